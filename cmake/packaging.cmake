# The packages people install: a Debian package (bin/pelmora and
# bin/pelmora-check, both tables in share/pelmora, where the program looks
# first, the two manual pages and the copyright file) and, for the 32-bit
# Windows programs, a .zip laid out for C:\Quorvelin. `make packages` builds
# both (see the Makefile).
set(CPACK_PACKAGE_NAME pelmora)
set(CPACK_PACKAGE_VENDOR "The Pelmora developers")
set(CPACK_PACKAGE_CONTACT "The Pelmora developers <pelmora@users.noreply.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "write one field of a UTF-16 text file as Shift_JIS")
set(CPACK_PACKAGE_DESCRIPTION
"Pelmora reads UTF-16 little-endian text, such as a spreadsheet's
Unicode-text export, takes one field of every line, can filter it or pull
the first number out of it, and writes it in Shift_JIS (code page 932) for
systems that read nothing else. It runs once per file from scripts and
reports every failure as a numbered message in an err file. pelmora-check
shows how a command line would be read and what the run would do, without
running it.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pelmora-${PROJECT_VERSION}-win32)
  # pelmora.exe, pelmora-check.exe, README.txt, MANUAL.txt and Quorvelin\
  # at the top of the archive.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(PELMORA_WINDOWS_README ${CMAKE_BINARY_DIR}/README.txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/README-windows.txt
                 ${PELMORA_WINDOWS_README} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PELMORA_WINDOWS_README} DESTINATION .)
  # Windows has no man: the manual pages travel as plain text, pelmora's
  # first and pelmora-check's after it, rendered again whenever a page
  # changes. Only the archive needs it, so a build without a renderer still
  # builds, and its install says what is missing.
  find_program(PELMORA_MANDOC mandoc)
  find_program(PELMORA_GROFF groff)
  set(PELMORA_MANUAL_TEXT ${CMAKE_BINARY_DIR}/MANUAL.txt)
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
    add_custom_target(pelmora_manual_text ALL DEPENDS ${PELMORA_MANUAL_TEXT})
    install(FILES ${PELMORA_MANUAL_TEXT} DESTINATION .)
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
  foreach(document pelmora.1 pelmora-check.1 changelog)
    set(compressed ${CMAKE_BINARY_DIR}/doc/${document}.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
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
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright
                ${CMAKE_BINARY_DIR}/doc/changelog.gz
          DESTINATION share/doc/pelmora)
endif()
include(CPack)
