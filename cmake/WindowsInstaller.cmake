# The Windows installer (the target windows_installer of the Windows tree):
# an NSIS installer, build/win/Lumo_DownloadTool-<version>-win64-setup.exe,
# made by makensis from packaging/windows/Lumo_DownloadTool.nsi. It holds
# lumo-download.exe, Lumo_DownloadTool.exe when this tree builds the window,
# and the manual pages of both as plain text: the window's page from
# packaging/Lumo_DownloadTool.1.in and lumo-download's made by help2man from
# the program's own usage and help texts, as the Debian package makes them,
# each rendered by groff.
find_program(LUMO_MAKENSIS makensis)
find_program(LUMO_HELP2MAN help2man)
find_program(LUMO_GROFF groff)
if(NOT LUMO_MAKENSIS OR NOT LUMO_HELP2MAN OR NOT LUMO_GROFF)
  message(STATUS "makensis, help2man or groff not found: no Windows installer "
                 "(install nsis, help2man and groff-base)")
  return()
endif()

set(LUMO_INSTALLER_DIR ${CMAKE_BINARY_DIR}/installer)
set(LUMO_INSTALLER_DOCS ${LUMO_INSTALLER_DIR}/docs)
set(LUMO_INSTALLER ${CMAKE_BINARY_DIR}/Lumo_DownloadTool-${PROJECT_VERSION}-win64-setup.exe)
set(LUMO_INSTALLER_NSI ${CMAKE_SOURCE_DIR}/packaging/windows/Lumo_DownloadTool.nsi)

# Text files in Windows' line ends.
configure_file(${CMAKE_SOURCE_DIR}/README.md ${LUMO_INSTALLER_DOCS}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright ${LUMO_INSTALLER_DOCS}/copyright.txt @ONLY NEWLINE_STYLE CRLF)

# The manual pages' sources: the window's page by hand, and lumo-download's
# from help2man, which reads --help and --version from a stand-in that prints
# the program's own texts (the .exe does not run on this machine).
string(TIMESTAMP LUMO_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${CMAKE_SOURCE_DIR}/packaging/Lumo_DownloadTool.1.in ${LUMO_INSTALLER_DIR}/Lumo_DownloadTool.1 @ONLY)
set(LUMO_HELP_STANDIN ${LUMO_INSTALLER_DIR}/help2man/lumo-download)
file(CONFIGURE OUTPUT ${LUMO_HELP_STANDIN} @ONLY CONTENT [[#!/bin/sh
case "$1" in
  --help) cat '@LUMO_CLI_USAGE_FILE@' '@LUMO_CLI_HELP_FILE@' ;;
  --version) echo 'lumo-download @PROJECT_VERSION@' ;;
esac
]])
file(CHMOD ${LUMO_HELP_STANDIN} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
add_custom_command(OUTPUT ${LUMO_INSTALLER_DIR}/lumo-download.1
  COMMAND ${LUMO_HELP2MAN} --no-info --section=1 --source=Lumo_DownloadTool
          --include=${CMAKE_SOURCE_DIR}/packaging/lumo-download.h2m
          --output=${LUMO_INSTALLER_DIR}/lumo-download.1 ${LUMO_HELP_STANDIN}
  COMMAND sed -i -e "s/^\\.SS \"Exit status:\"/.SH \"EXIT STATUS\"/"
                 -e "s/^\\.SS \"Messages:\"/.SH DIAGNOSTICS/" ${LUMO_INSTALLER_DIR}/lumo-download.1
  DEPENDS ${LUMO_CLI_USAGE_FILE} ${LUMO_CLI_HELP_FILE} ${CMAKE_SOURCE_DIR}/packaging/lumo-download.h2m VERBATIM)

set(LUMO_INSTALLER_FILES)
foreach(page Lumo_DownloadTool lumo-download)
  set(text ${LUMO_INSTALLER_DOCS}/manual/${page}.txt)
  add_custom_command(OUTPUT ${text}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${LUMO_GROFF} -DIN=${LUMO_INSTALLER_DIR}/${page}.1 -DOUT=${text}
            -P ${CMAKE_SOURCE_DIR}/cmake/RenderManualText.cmake
    DEPENDS ${LUMO_INSTALLER_DIR}/${page}.1 ${CMAKE_SOURCE_DIR}/cmake/RenderManualText.cmake VERBATIM)
  list(APPEND LUMO_INSTALLER_FILES ${text})
endforeach()

# The programs without their debug information (the tree is RelWithDebInfo).
set(LUMO_INSTALLER_PROGRAMS lumo-download)
if(TARGET Lumo_DownloadTool)
  list(APPEND LUMO_INSTALLER_PROGRAMS Lumo_DownloadTool)
endif()
set(LUMO_NSIS_DEFINES)
foreach(program ${LUMO_INSTALLER_PROGRAMS})
  set(stripped ${LUMO_INSTALLER_DIR}/bin/${program}.exe)
  add_custom_command(OUTPUT ${stripped}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LUMO_INSTALLER_DIR}/bin
    COMMAND ${CMAKE_STRIP} -o ${stripped} $<TARGET_FILE:${program}>
    DEPENDS ${program} VERBATIM)
  list(APPEND LUMO_INSTALLER_FILES ${stripped})
endforeach()
list(APPEND LUMO_NSIS_DEFINES -DCLI_EXE=${LUMO_INSTALLER_DIR}/bin/lumo-download.exe)
if(TARGET Lumo_DownloadTool)
  list(APPEND LUMO_NSIS_DEFINES -DWINDOW_EXE=${LUMO_INSTALLER_DIR}/bin/Lumo_DownloadTool.exe)
endif()

add_custom_command(OUTPUT ${LUMO_INSTALLER}
  COMMAND ${LUMO_MAKENSIS} -V2 -NOCD -DVERSION=${PROJECT_VERSION} -DOUTFILE=${LUMO_INSTALLER}
          -DDOCS=${LUMO_INSTALLER_DOCS} ${LUMO_NSIS_DEFINES} ${LUMO_INSTALLER_NSI}
  DEPENDS ${LUMO_INSTALLER_NSI} ${LUMO_INSTALLER_FILES} ${LUMO_INSTALLER_DOCS}/README.txt
          ${LUMO_INSTALLER_DOCS}/copyright.txt VERBATIM)
add_custom_target(windows_installer DEPENDS ${LUMO_INSTALLER})
# ./run package and the Wine stage find the installer here.
file(WRITE ${CMAKE_BINARY_DIR}/windows-installer-path.txt "${LUMO_INSTALLER}\n")
