# Installation and the Debian package (./run package: cpack -G DEB).
# Besides the three programs the package holds their man pages (help2man on
# the built programs' --help and --version), the desktop entry, the icon as
# SVG and as a 128x128 PNG (rsvg-convert), the AppStream metadata, and the
# copyright file and changelog that Debian policy asks for.
include(GNUInstallDirs)

set(LUMO_APP_ID "com.lumo.DownloadTool")
set(LUMO_PACKAGE_NAME "lumo-downloadtool")
set(LUMO_PACKAGE_MAINTAINER "Lumo_DownloadTool developers <developers@lumo-downloadtool.example>"
    CACHE STRING "The package's Maintainer field: Name <address>")
set(LUMO_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(LUMO_PACKAGE_OUT ${CMAKE_BINARY_DIR}/packaging)
set(LUMO_PACKAGE_DOC ${CMAKE_INSTALL_DATAROOTDIR}/doc/${LUMO_PACKAGE_NAME})

# Directories the install creates get 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS Lumo_DownloadTool lumo-download lumo-unit-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (CPACK_STRIP_FILES) also drops the compiler's .comment
# and .note sections, as Debian's own packages do.
install(CODE "set(LUMO_STRIP \"${CMAKE_STRIP}\")
  set(LUMO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program Lumo_DownloadTool lumo-download lumo-unit-sim)
      execute_process(COMMAND "${LUMO_STRIP}" --remove-section=.comment --remove-section=.note
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${LUMO_BINDIR}/${program}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]])

find_program(LUMO_HELP2MAN help2man)
find_program(LUMO_RSVG_CONVERT rsvg-convert)
find_program(LUMO_GZIP gzip)

# The release date in the changelog and metainfo follows SOURCE_DATE_EPOCH
# when it is set, so that a rebuild gives the same files.
string(TIMESTAMP LUMO_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP LUMO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${LUMO_PACKAGING}/${LUMO_APP_ID}.metainfo.xml.in ${LUMO_PACKAGE_OUT}/${LUMO_APP_ID}.metainfo.xml @ONLY)
configure_file(${LUMO_PACKAGING}/changelog.in ${LUMO_PACKAGE_OUT}/changelog @ONLY)
configure_file(${LUMO_PACKAGING}/Lumo_DownloadTool.1.in ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1 @ONLY)

set(LUMO_PACKAGE_FILES)
if(LUMO_GZIP)
  # -n: no name or time stamp in the header, as Debian wants it.
  add_custom_command(OUTPUT ${LUMO_PACKAGE_OUT}/changelog.gz
    COMMAND ${LUMO_GZIP} -9n -c ${LUMO_PACKAGE_OUT}/changelog > ${LUMO_PACKAGE_OUT}/changelog.gz
    DEPENDS ${LUMO_PACKAGE_OUT}/changelog VERBATIM)
  list(APPEND LUMO_PACKAGE_FILES ${LUMO_PACKAGE_OUT}/changelog.gz)
  install(FILES ${LUMO_PACKAGE_OUT}/changelog.gz DESTINATION ${LUMO_PACKAGE_DOC})
  # The window's page is written by hand: it has no --help.
  add_custom_command(OUTPUT ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1.gz
    COMMAND ${LUMO_GZIP} -9n -c ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1 > ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1.gz
    DEPENDS ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1 VERBATIM)
  list(APPEND LUMO_PACKAGE_FILES ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1.gz)
  install(FILES ${LUMO_PACKAGE_OUT}/Lumo_DownloadTool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(LUMO_HELP2MAN AND LUMO_GZIP)
  foreach(program lumo-download lumo-unit-sim)
    set(page ${LUMO_PACKAGE_OUT}/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${LUMO_HELP2MAN} --no-info --section=1 --source=Lumo_DownloadTool
              --include=${LUMO_PACKAGING}/${program}.h2m --output=${page} $<TARGET_FILE:${program}>
      # The help's own "Exit status:" and "Messages:" headings become the
      # page's sections of those names.
      COMMAND sed -i -e "s/^\\.SS \"Exit status:\"/.SH \"EXIT STATUS\"/"
                     -e "s/^\\.SS \"Messages:\"/.SH DIAGNOSTICS/" ${page}
      COMMAND ${LUMO_GZIP} -9nf ${page}
      DEPENDS ${program} ${LUMO_PACKAGING}/${program}.h2m VERBATIM)
    list(APPEND LUMO_PACKAGE_FILES ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "help2man or gzip not found: no man pages (the package needs them)")
endif()

if(LUMO_RSVG_CONVERT)
  add_custom_command(OUTPUT ${LUMO_PACKAGE_OUT}/${LUMO_APP_ID}.png
    COMMAND ${LUMO_RSVG_CONVERT} --width=128 --height=128 --format=png
            --output=${LUMO_PACKAGE_OUT}/${LUMO_APP_ID}.png ${LUMO_PACKAGING}/${LUMO_APP_ID}.svg
    DEPENDS ${LUMO_PACKAGING}/${LUMO_APP_ID}.svg VERBATIM)
  list(APPEND LUMO_PACKAGE_FILES ${LUMO_PACKAGE_OUT}/${LUMO_APP_ID}.png)
  install(FILES ${LUMO_PACKAGE_OUT}/${LUMO_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/128x128/apps)
else()
  message(STATUS "rsvg-convert not found: no 128x128 icon (the package needs it)")
endif()

# Made by every plain build; the sanitizer builds of ./run test leave them out.
if(LUMO_SANITIZE STREQUAL "")
  add_custom_target(lumo_package_files ALL DEPENDS ${LUMO_PACKAGE_FILES})
else()
  add_custom_target(lumo_package_files DEPENDS ${LUMO_PACKAGE_FILES})
endif()

install(FILES ${LUMO_PACKAGING}/${LUMO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${LUMO_PACKAGING}/${LUMO_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(FILES ${LUMO_PACKAGE_OUT}/${LUMO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${LUMO_PACKAGING}/copyright DESTINATION ${LUMO_PACKAGE_DOC})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${LUMO_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumo_DownloadTool developers")
set(CPACK_PACKAGE_CONTACT ${LUMO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load firmware into camera units over RS-232")
# CPack puts the summary before this as the synopsis line.
set(CPACK_PACKAGE_DESCRIPTION "Lumo_DownloadTool loads the DSP image, the camera board image and the
control board image into a camera unit through a serial port, and shows
each target's progress and result in a window.
.
lumo-download is the same loader on the command line, for benches and
production lines: several units at once, JSON output, wire traces.
lumo-unit-sim is a simulated camera unit on a pseudo-terminal, for trying
the tool without hardware.
.
A user who cannot open a serial port must be in the dialout group
(sudo usermod -aG dialout $USER, then log in again). The package changes
no group membership.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LUMO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
