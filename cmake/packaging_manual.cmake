# Renders the manual page as MANUAL.txt, the plain text the Windows archive
# carries beside README.txt (Windows has no man):
#
#   cmake -DPAGE=docs/pelmora.1 -DOUTPUT=MANUAL.txt
#         [-DMANDOC=/usr/bin/mandoc] [-DGROFF=/usr/bin/groff]
#         -P cmake/packaging_manual.cmake
#
# A terminal renderer marks bold and underline by overstriking (a letter, a
# backspace, the letter or "_" again): Notepad would show the backspaces, so
# they go, with the letter they strike. Lines end in CR LF, as README.txt's.
if(NOT PAGE OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DPAGE=page -DOUTPUT=text -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

if(MANDOC)
  execute_process(COMMAND ${MANDOC} -Tascii ${PAGE}
                  OUTPUT_VARIABLE text RESULT_VARIABLE status)
elseif(GROFF)
  # -P-c: overstrike rather than terminal colour sequences.
  execute_process(COMMAND ${GROFF} -man -Tascii -P-c ${PAGE}
                  OUTPUT_VARIABLE text RESULT_VARIABLE status)
else()
  message(FATAL_ERROR "MANUAL.txt is rendered with mandoc or groff: "
                      "apt-get install mandoc")
endif()
if(NOT status EQUAL 0 OR text STREQUAL "")
  message(FATAL_ERROR "rendering ${PAGE} failed (${status})")
endif()

string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
