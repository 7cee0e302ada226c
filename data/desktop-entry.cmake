# Writes the desktop entry from its template, its MimeType value made from
# the input formats' descriptors by the built velmora-format-lists.
#   cmake -DLISTS=<tool> -DIN=<velmora.desktop.in> -DOUT=<velmora.desktop> -P desktop-entry.cmake
execute_process(COMMAND ${LISTS} mime OUTPUT_VARIABLE VELMORA_MIME_TYPES RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "velmora-format-lists failed: ${status}")
endif()
configure_file(${IN} ${OUT} @ONLY)
