# The AppStream metainfo, made from duoscope.metainfo.xml.in. Screenshots are listed only with
# a public https address of the folder holding docs/screenshots' pictures: software centres
# fetch them from there, and AppStream accepts no local paths.
#
# Included by the build; also runs as a script (a test makes one with screenshots):
#   cmake -DOUTPUT=file -DSCREENSHOTS_URL=https://… -DVERSION=… -DRELEASE_DATE=… -DAPP_ID=… -P metainfo.cmake
set(DUOSCOPE_METAINFO_DIR ${CMAKE_CURRENT_LIST_DIR})

function(duoscope_metainfo output screenshots_url)
  set(DUOSCOPE_METAINFO_EXTRA "")
  if(NOT screenshots_url STREQUAL "")
    if(NOT screenshots_url MATCHES "^https://[^/ ]+[^ <>&\"]*$")
      message(FATAL_ERROR "The screenshots' address must be a public https:// address, not "
                          "'${screenshots_url}'")
    endif()
    string(REGEX REPLACE "/+$" "" base "${screenshots_url}")
    # The pictures scripts/screenshots.sh keeps in docs/screenshots, with their captions.
    set(shots
      "alignment.png|Aligning the pair under the loupe"
      "anaglyph.png|A colour anaglyph, for red–cyan glasses"
      "stereogram.png|A side-by-side stereogram"
      "capture.png|Taking the right photograph over the left one's ghost"
      "share.png|Sharing the result")
    string(APPEND DUOSCOPE_METAINFO_EXTRA "  <screenshots>\n")
    set(kind " type=\"default\"")
    foreach(shot IN LISTS shots)
      string(REPLACE "|" ";" parts "${shot}")
      list(GET parts 0 file)
      list(GET parts 1 caption)
      string(APPEND DUOSCOPE_METAINFO_EXTRA
        "    <screenshot${kind}>\n      <caption>${caption}</caption>\n"
        "      <image>${base}/${file}</image>\n    </screenshot>\n")
      set(kind "")
    endforeach()
    string(APPEND DUOSCOPE_METAINFO_EXTRA "  </screenshots>\n")
  endif()
  configure_file(${DUOSCOPE_METAINFO_DIR}/duoscope.metainfo.xml.in ${output} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(PROJECT_VERSION "${VERSION}")
  set(DUOSCOPE_RELEASE_DATE "${RELEASE_DATE}")
  set(DUOSCOPE_APP_ID "${APP_ID}")
  duoscope_metainfo("${OUTPUT}" "${SCREENSHOTS_URL}")
endif()
