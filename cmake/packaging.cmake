# The packages people install: a Debian package (bin/pelmora and
# bin/pelmora-check, both tables in share/pelmora, where the program looks
# first, the manual pages in English and Japanese, and the copyright file,
# the READMEs and the examples) and, for the 32-bit
# Windows programs, a .zip laid out for C:\Quorvelin. `make packages` builds
# both (see the Makefile).
set(CPACK_PACKAGE_NAME pelmora)
set(CPACK_PACKAGE_VENDOR "The Pelmora developers")
set(CPACK_PACKAGE_CONTACT "The Pelmora developers <pelmora@users.noreply.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "write one field of a spreadsheet export as Shift_JIS")
set(CPACK_PACKAGE_DESCRIPTION
"Pelmora reads a spreadsheet export (Unicode text, CSV UTF-8 or a
Shift_JIS CSV), takes one field of every line, can filter it or pull
the first number out of it, and writes it in Shift_JIS (code page 932) for
systems that read nothing else. It runs once per file from scripts and
reports every failure as a numbered message in an err file. pelmora-check
shows how a command line would be read and what the run would do, without
running it.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pelmora-${PROJECT_VERSION}-win32)
  # pelmora.exe, pelmora-check.exe, README.txt, MANUAL.txt, their Japanese
  # twins and Quorvelin\ at the top of the archive.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(PELMORA_WINDOWS_README ${CMAKE_BINARY_DIR}/README.txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/README-windows.txt
                 ${PELMORA_WINDOWS_README} @ONLY NEWLINE_STYLE CRLF)
  # The Japanese twin is UTF-8 with a byte-order mark, so that Notepad on
  # a Japanese Windows does not read it as code page 932.
  set(PELMORA_WINDOWS_README_JA ${CMAKE_BINARY_DIR}/README-windows.ja.txt)
  file(READ ${PROJECT_SOURCE_DIR}/docs/ja/README-windows.txt
       PELMORA_README_JA_TEXT)
  string(ASCII 239 187 191 PELMORA_UTF8_MARK)
  file(WRITE ${CMAKE_BINARY_DIR}/README-windows.ja.in
       "${PELMORA_UTF8_MARK}${PELMORA_README_JA_TEXT}")
  configure_file(${CMAKE_BINARY_DIR}/README-windows.ja.in
                 ${PELMORA_WINDOWS_README_JA} @ONLY NEWLINE_STYLE CRLF)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/docs/ja/README-windows.txt)
  install(FILES ${PELMORA_WINDOWS_README} ${PELMORA_WINDOWS_README_JA}
          DESTINATION .)
  # Windows has no man: the manual pages travel as plain text, pelmora's
  # first and pelmora-check's after it, rendered again whenever a page
  # changes. Only the archive needs it, so a build without a renderer still
  # builds, and its install says what is missing.
  find_program(PELMORA_MANDOC mandoc)
  find_program(PELMORA_GROFF groff)
  set(PELMORA_MANUAL_TEXT ${CMAKE_BINARY_DIR}/MANUAL.txt)
  set(PELMORA_MANUAL_TEXT_JA ${CMAKE_BINARY_DIR}/MANUAL.ja.txt)
  if(PELMORA_MANDOC OR PELMORA_GROFF)
    add_custom_command(
      OUTPUT ${PELMORA_MANUAL_TEXT}
      COMMAND ${CMAKE_COMMAND}
              "-DPAGES=${PROJECT_SOURCE_DIR}/docs/pelmora.1|${PROJECT_SOURCE_DIR}/docs/pelmora-check.1"
              -DOUTPUT=${PELMORA_MANUAL_TEXT} -DMANDOC=${PELMORA_MANDOC}
              -DGROFF=${PELMORA_GROFF}
              -P ${PROJECT_SOURCE_DIR}/cmake/packaging_manual.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/pelmora.1
              ${PROJECT_SOURCE_DIR}/docs/pelmora-check.1
              ${PROJECT_SOURCE_DIR}/cmake/packaging_manual.cmake
      COMMENT "Rendering MANUAL.txt"
      VERBATIM)
    # The Japanese pages as UTF-8 with a byte-order mark; groff, when
    # there is one, breaks their lines after the marked punctuation.
    add_custom_command(
      OUTPUT ${PELMORA_MANUAL_TEXT_JA}
      COMMAND ${CMAKE_COMMAND}
              "-DPAGES=${PROJECT_SOURCE_DIR}/docs/ja/pelmora.1|${PROJECT_SOURCE_DIR}/docs/ja/pelmora-check.1"
              -DOUTPUT=${PELMORA_MANUAL_TEXT_JA} -DMANDOC=${PELMORA_MANDOC}
              -DGROFF=${PELMORA_GROFF} -DUTF8=ON
              -P ${PROJECT_SOURCE_DIR}/cmake/packaging_manual.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/ja/pelmora.1
              ${PROJECT_SOURCE_DIR}/docs/ja/pelmora-check.1
              ${PROJECT_SOURCE_DIR}/cmake/packaging_manual.cmake
      COMMENT "Rendering MANUAL.ja.txt"
      VERBATIM)
    add_custom_target(pelmora_manual_text ALL
                      DEPENDS ${PELMORA_MANUAL_TEXT} ${PELMORA_MANUAL_TEXT_JA})
    install(FILES ${PELMORA_MANUAL_TEXT} ${PELMORA_MANUAL_TEXT_JA}
            DESTINATION .)
  else()
    install(CODE "message(FATAL_ERROR \"MANUAL.txt is rendered with mandoc or groff: apt-get install mandoc, then configure again\")")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The manual page and the changelog go in compressed, as Debian's policy
  # asks; -n keeps the package the same from one build to the next.
  foreach(document pelmora.1 pelmora-check.1 changelog ja/pelmora.1
                   ja/pelmora-check.1)
    set(compressed ${CMAKE_BINARY_DIR}/doc/${document}.gz)
    get_filename_component(folder ${compressed} DIRECTORY)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\""
              ${PROJECT_SOURCE_DIR}/docs/${document} ${compressed}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${document}
      VERBATIM)
    list(APPEND PELMORA_COMPRESSED_DOCUMENTS ${compressed})
  endforeach()
  add_custom_target(pelmora_documents ALL
                    DEPENDS ${PELMORA_COMPRESSED_DOCUMENTS})
  install(FILES ${CMAKE_BINARY_DIR}/doc/pelmora.1.gz
                ${CMAKE_BINARY_DIR}/doc/pelmora-check.1.gz
          DESTINATION share/man/man1)
  # man shows these under a Japanese locale (LANG=ja_JP.UTF-8).
  install(FILES ${CMAKE_BINARY_DIR}/doc/ja/pelmora.1.gz
                ${CMAKE_BINARY_DIR}/doc/ja/pelmora-check.1.gz
          DESTINATION share/man/ja/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright
                ${CMAKE_BINARY_DIR}/doc/changelog.gz
          DESTINATION share/doc/pelmora)
  # The READMEs the manual pages point to, with the documents they link to
  # and the examples, each with its commands and expected output.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md
                ${PROJECT_SOURCE_DIR}/README.ja.md
                ${PROJECT_SOURCE_DIR}/CONTRIBUTING.md
          DESTINATION share/doc/pelmora)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/ERRORS.md
                ${PROJECT_SOURCE_DIR}/docs/SAFETY.md
                ${PROJECT_SOURCE_DIR}/docs/PERFORMANCE.md
          DESTINATION share/doc/pelmora/docs)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
          DESTINATION share/doc/pelmora/examples
          PATTERN run-demo.sh EXCLUDE)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/lintian-overrides
          DESTINATION share/lintian/overrides RENAME pelmora)
endif()
include(CPack)
