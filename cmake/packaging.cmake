# The Debian package, made by `cpack -G DEB` from what `cmake --install` installs (see
# scripts/package.sh, which builds with Debian's hardening flags first).
set(DUOSCOPE_PACKAGE_MAINTAINER "Duoscope developers <maintainers@duoscope.example>" CACHE STRING
    "Maintainer of the Debian package, \"Name <address>\"")

# A changelog and a copyright file, which every Debian package carries; a copy installed from
# source gets them too.
execute_process(COMMAND date -u -R -d "${DUOSCOPE_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE DUOSCOPE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(doc_dir ${PROJECT_BINARY_DIR}/package-doc)
configure_file(${PROJECT_SOURCE_DIR}/resources/package/copyright ${doc_dir}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/package/changelog.in ${doc_dir}/changelog @ONLY)
find_program(GZIP gzip REQUIRED)
# gzip -n: no name or time stamp inside, so that the package is the same on every build.
add_custom_command(OUTPUT ${doc_dir}/changelog.gz
  COMMAND ${GZIP} -9nc ${doc_dir}/changelog > ${doc_dir}/changelog.gz
  DEPENDS ${doc_dir}/changelog)
add_custom_target(duoscope_changelog ALL DEPENDS ${doc_dir}/changelog.gz)
# Under the package's name, not the project's ("Duoscope"), which GNUInstallDirs would use.
install(FILES ${doc_dir}/copyright ${doc_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/duoscope)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME duoscope)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Duoscope developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DUOSCOPE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make 3-D pictures from two photographs")
# The extended description (CPack puts the summary line before it and indents it).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Duoscope makes stereo (3-D) pictures from two photographs of one scene taken a
few centimetres apart. The right photograph is dragged into register with the
left one under a loupe, and Duoscope renders a colour or grey red-cyan
anaglyph, a side-by-side stereogram or a wigglegram (a looping two-frame GIF).
It also opens MPO files of 3-D cameras and side-by-side JPS images.

The package holds the desktop application, duoscope-cli, which renders the
same outputs from the command line, and duoscope-receiver, which receives
pairs sent from the application on another computer.")
# The shared libraries the programs and the alignment module link are found by dpkg-shlibdeps;
# what they open at run time is not, and is named here: libgd (opened for the first GIF), Qt's
# platform plugins beyond X11, the GStreamer plugins the camera and its preview go through,
# libsecret (opened by QtKeychain for the desktop's secret service), xdg-utils (mail and the web
# browser for sign-ins).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libgd3, qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, libsecret-1-0, xdg-utils")
# Receivers on the network are found through Avahi; Wayland sessions want Qt's own plugin; the
# interface is drawn in Inter where it is installed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, qt6-wayland, fonts-inter")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring")
include(CPack)
