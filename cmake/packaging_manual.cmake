# Renders the manual pages as MANUAL.txt, the plain text the Windows archive
# carries beside README.txt (Windows has no man), one page after the other:
#
#   cmake "-DPAGES=docs/pelmora.1|docs/pelmora-check.1" -DOUTPUT=MANUAL.txt
#         [-DMANDOC=/usr/bin/mandoc] [-DGROFF=/usr/bin/groff] [-DUTF8=ON]
#         -P cmake/packaging_manual.cmake
#
# With UTF8 (the Japanese pages) the text is UTF-8 with a byte-order mark,
# so that Notepad does not take it for code page 932. groff renders it, told
# to overstrike nothing: it breaks Japanese lines where the page marks a
# break, which mandoc does not, and a struck character of several bytes
# would not come apart cleanly.
#
# A terminal renderer marks bold and underline by overstriking (a letter, a
# backspace, the letter or "_" again): Notepad would show the backspaces, so
# they go, with the letter they strike. Lines end in CR LF, as README.txt's.
if(NOT PAGES OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake \"-DPAGES=page|page\" -DOUTPUT=text -P ${CMAKE_CURRENT_LIST_FILE}")
endif()
if(NOT MANDOC AND NOT GROFF)
  message(FATAL_ERROR "MANUAL.txt is rendered with mandoc or groff: "
                      "apt-get install mandoc")
endif()
if(UTF8 AND NOT GROFF)
  message(FATAL_ERROR "MANUAL.ja.txt is rendered with groff: "
                      "apt-get install groff-base")
endif()

# "|" between the pages: a list's ";" would not survive the command line of
# a build rule.
string(REPLACE "|" ";" pages "${PAGES}")
set(text "")
foreach(page IN LISTS pages)
  if(UTF8)
    # -k: the page is UTF-8; -P-cbou: no overstrike, no colour sequences.
    execute_process(COMMAND ${GROFF} -k -man -Tutf8 -P-cbou ${page}
                    OUTPUT_VARIABLE rendered RESULT_VARIABLE status)
  elseif(MANDOC)
    execute_process(COMMAND ${MANDOC} -Tascii ${page}
                    OUTPUT_VARIABLE rendered RESULT_VARIABLE status)
  else()
    # -P-c: overstrike rather than terminal colour sequences.
    execute_process(COMMAND ${GROFF} -man -Tascii -P-c ${page}
                    OUTPUT_VARIABLE rendered RESULT_VARIABLE status)
  endif()
  if(NOT status EQUAL 0 OR rendered STREQUAL "")
    message(FATAL_ERROR "rendering ${page} failed (${status})")
  endif()
  if(NOT text STREQUAL "")
    string(APPEND text "\n\n")
  endif()
  string(APPEND text "${rendered}")
endforeach()

string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
if(UTF8)
  string(ASCII 239 187 191 mark)
  set(text "${mark}${text}")
endif()
file(WRITE ${OUTPUT} "${text}")
