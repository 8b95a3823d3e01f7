# The desktop entry, made from duoscope.desktop.in. It opens the single-file stereo formats
# (image/x-mpo, image/x-jps, defined by duoscope-mime.xml) and claims the URL schemes that the photo
# services' sign-in pages return to ("db-" + Dropbox key, "fb" + Facebook application id,
# "flickr" + Flickr API key), each only when the build has that registration, so that the
# desktop hands such a callback to `duoscope URL`.
#
# Included by the build; also runs as a script (a test makes entries for chosen keys):
#   cmake -DOUTPUT=file -DDROPBOX_KEY=… -DFLICKR_KEY=… -DFACEBOOK_ID=… -P desktop_entry.cmake
set(DUOSCOPE_DESKTOP_ENTRY_DIR ${CMAKE_CURRENT_LIST_DIR})

function(duoscope_desktop_entry output dropbox_key flickr_key facebook_id)
  set(types "")
  foreach(prefix db- fb flickr)
    if(prefix STREQUAL "db-")
      set(key "${dropbox_key}")
    elseif(prefix STREQUAL "fb")
      set(key "${facebook_id}")
    else()
      set(key "${flickr_key}")
    endif()
    if(key STREQUAL "")
      continue()
    endif()
    # RFC 3986 scheme characters only; schemes are compared without case and browsers hand
    # them over in lower case.
    if(NOT key MATCHES "^[A-Za-z0-9+.-]+$")
      message(FATAL_ERROR "The key '${key}' cannot be part of the URL scheme '${prefix}…': "
                          "only letters, digits, '+', '-' and '.' can")
    endif()
    string(TOLOWER "${prefix}${key}" scheme)
    string(APPEND types "x-scheme-handler/${scheme};")
  endforeach()
  set(DUOSCOPE_DESKTOP_SCHEME_TYPES "${types}")
  configure_file(${DUOSCOPE_DESKTOP_ENTRY_DIR}/duoscope.desktop.in ${output} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  duoscope_desktop_entry("${OUTPUT}" "${DROPBOX_KEY}" "${FLICKR_KEY}" "${FACEBOOK_ID}")
endif()
