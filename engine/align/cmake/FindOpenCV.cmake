# Finds the OpenCV modules named as COMPONENTS and gives each an imported target opencv_<name>,
# the names OpenCV's own CMake package uses.
#
# That package is used when it is installed. Debian ships it only in libopencv-dev, which
# depends on every module (VTK, MPI, Tesseract and a Qt 5 GUI among them); the per-module
# packages (libopencv-core-dev, …) hold the headers and libraries but no CMake files, so
# without it the components are looked up one by one.
#
# Sets OpenCV_FOUND, OpenCV_VERSION, OpenCV_INCLUDE_DIRS and OpenCV_<component>_FOUND.

find_package(OpenCV CONFIG QUIET COMPONENTS ${OpenCV_FIND_COMPONENTS})
if(OpenCV_FOUND)
  include(FindPackageHandleStandardArgs)
  find_package_handle_standard_args(OpenCV CONFIG_MODE)
  return()
endif()

find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
if(OpenCV_INCLUDE_DIR AND EXISTS "${OpenCV_INCLUDE_DIR}/opencv2/core/version.hpp")
  file(STRINGS "${OpenCV_INCLUDE_DIR}/opencv2/core/version.hpp" _opencv_version_lines
       REGEX "#define CV_VERSION_(MAJOR|MINOR|REVISION) ")
  foreach(_part MAJOR MINOR REVISION)
    string(REGEX REPLACE ".*#define CV_VERSION_${_part} +([0-9]+).*" "\\1" _opencv_${_part}
                         "${_opencv_version_lines}")
  endforeach()
  set(OpenCV_VERSION "${_opencv_MAJOR}.${_opencv_MINOR}.${_opencv_REVISION}")
endif()

foreach(_component IN LISTS OpenCV_FIND_COMPONENTS)
  find_library(OpenCV_${_component}_LIBRARY opencv_${_component})
  if(OpenCV_INCLUDE_DIR AND OpenCV_${_component}_LIBRARY
     AND EXISTS "${OpenCV_INCLUDE_DIR}/opencv2/${_component}.hpp")
    set(OpenCV_${_component}_FOUND TRUE)
    if(NOT TARGET opencv_${_component})
      add_library(opencv_${_component} UNKNOWN IMPORTED)
      set_target_properties(opencv_${_component} PROPERTIES
        IMPORTED_LOCATION "${OpenCV_${_component}_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIR}")
    endif()
  else()
    set(OpenCV_${_component}_FOUND FALSE)
  endif()
  mark_as_advanced(OpenCV_${_component}_LIBRARY)
endforeach()
mark_as_advanced(OpenCV_INCLUDE_DIR)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV
  REQUIRED_VARS OpenCV_INCLUDE_DIR
  VERSION_VAR OpenCV_VERSION
  HANDLE_COMPONENTS)
if(OpenCV_FOUND)
  set(OpenCV_INCLUDE_DIRS "${OpenCV_INCLUDE_DIR}")
endif()
