# cmake -DGROFF=groff -DIN=page.1 -DOUT=page.txt -P RenderManualText.cmake
# A manual page as plain text for Windows: no overstrikes or terminal escapes
# for bold and underline, and Windows' line ends.
execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou -rLL=78n -rHY=0 ${IN}
                OUTPUT_VARIABLE text RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff on ${IN}: ${rc}\n${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
