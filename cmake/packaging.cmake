# Installing the programs and packing them: on Linux `cmake --install` and a
# Debian package (`cpack -G DEB`); in the Windows cross build a ZIP archive
# (`cpack -G ZIP`). The version is project()'s, as everywhere.
include(GNUInstallDirs)

set(MFU_MAINTAINER "Modem Update Team <modem-update@example.org>")
set(MFU_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(CPACK_PACKAGE_VENDOR "Modem Update Team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update for KELVORA serial modems")
set(CPACK_STRIP_FILES ON)

# A build that embeds the stand-in image (no -DMFU_FIRMWARE_FILE of its own,
# MFU_FIRMWARE_IS_STANDIN from resources/) must not pass for one with real
# firmware: its packages carry "testimage" in their names and say so inside.
#   modem-update_<VERSION>~testimage_amd64.deb  (Debian version <VERSION>~testimage)
#   ModemUpdate-<VERSION>-testimage-win32.zip
if(MFU_FIRMWARE_IS_STANDIN)
  set(MFU_PACKAGE_VERSION ${PROJECT_VERSION}~testimage)
  set(MFU_PACKAGE_MARK -testimage)
  string(APPEND CPACK_PACKAGE_DESCRIPTION_SUMMARY " (test build, stand-in image)")
  set(MFU_PACKAGE_TEST_NOTE "

TEST BUILD (testimage): this package carries a stand-in image, not real
firmware. It updates only the simulated modem (--simulate, modem-sim) and
refuses every real serial port.")
else()
  set(MFU_PACKAGE_VERSION ${PROJECT_VERSION})
  set(MFU_PACKAGE_MARK "")
  set(MFU_PACKAGE_TEST_NOTE "")
endif()
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(MFU_PLATFORM STREQUAL "posix")
  set(pkg_build ${PROJECT_BINARY_DIR}/packaging)
  # Debian's layout: documentation under the package's name, not project()'s.
  set(pkg_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/modem-update)

  install(TARGETS modem-update modem-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${MFU_PACKAGING_DIR}/modem-update.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)

  # The menu's icon: the window's drawing (resources/win32/make_icon.py),
  # rendered at the theme's usual sizes when the build runs.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(icon_sizes 16 32 48 64 128 256)
  set(icon_files "")
  foreach(size IN LISTS icon_sizes)
    list(APPEND icon_files ${pkg_build}/icons/${size}x${size}/modem-update.png)
    install(FILES ${pkg_build}/icons/${size}x${size}/modem-update.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_command(
    OUTPUT ${icon_files}
    COMMAND ${Python3_EXECUTABLE} ${MFU_PACKAGING_DIR}/make_icon_png.py ${pkg_build}/icons ${icon_sizes}
    DEPENDS ${MFU_PACKAGING_DIR}/make_icon_png.py ${PROJECT_SOURCE_DIR}/resources/win32/make_icon.py
    COMMENT "Rendering the menu icons")

  # Man pages and the changelog, compressed as Debian policy asks
  # (gzip -n: no name or time stamp, so the package is reproducible).
  set(gz_files "")
  foreach(page modem-update.1 modem-sim.1 changelog)
    set(source ${MFU_PACKAGING_DIR}/${page})
    if(page STREQUAL "changelog")
      set(source ${MFU_PACKAGING_DIR}/changelog.in)
    endif()
    configure_file(${source} ${pkg_build}/${page} @ONLY)
    add_custom_command(
      OUTPUT ${pkg_build}/${page}.gz
      COMMAND gzip -9n -c ${pkg_build}/${page} > ${pkg_build}/${page}.gz
      DEPENDS ${pkg_build}/${page}
      COMMENT "Compressing ${page}")
    list(APPEND gz_files ${pkg_build}/${page}.gz)
  endforeach()
  add_custom_target(mfu_packaging_files ALL DEPENDS ${icon_files} ${gz_files})
  install(FILES ${pkg_build}/modem-update.1.gz ${pkg_build}/modem-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${pkg_build}/changelog.gz ${MFU_PACKAGING_DIR}/copyright ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${pkg_docdir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME modem-update)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # modem-update_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_VERSION ${MFU_PACKAGE_VERSION})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MFU_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: from the libraries the programs link (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt's own dialogs (the log file dialog, its question) in German, as the
  # window; without it they are English and work all the same.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
  # The long description; CPack puts the summary line above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "modem-update replaces the firmware of KELVORA external serial modems with the
firmware image built into the program. It finds the modem on a serial port,
switches it into its download mode and sends the image by ZMODEM, one
acknowledged block at a time, then waits for the modem's flash loader to
report success. It has a German update window (Qt) and a console mode
(--console) for terminals and scripts; --simulate runs a whole update
against a built-in simulated modem.

modem-sim serves the simulated modem on a pseudo-terminal, for trying the
tool end to end without a modem.${MFU_PACKAGE_TEST_NOTE}")

  # The version the package carries is the one the program prints.
  if(MFU_BUILD_TESTS)
    add_test(NAME modem_update_version COMMAND modem-update --version)
    set_tests_properties(modem_update_version PROPERTIES LABELS unit
      PASS_REGULAR_EXPRESSION "^modem-update ${PROJECT_VERSION}\nFirmware: [^\n]+, [0-9]+ Bytes, [^\n]+, CRC-32 [0-9a-f]+\n")
  endif()
else()
  # The Windows archive: the program and a short German read-me (CRLF,
  # Windows-1252, so that any Notepad shows it right).
  # The read-me says what the program carries: real firmware, or the test
  # image (MFU_FIRMWARE_IS_STANDIN, from resources/).
  if(MFU_FIRMWARE_IS_STANDIN)
    set(MFU_LIESMICH_IMAGE "ACHTUNG: Dieses Archiv enthält nur ein Test-Abbild, keine echte Firmware.
ModemUpdate.exe ist zum Ausprobieren mit einem simulierten Modem gedacht:
es benutzt keinen COM-Port, an dem ein echtes Modem hängen kann, und spielt
nichts in ein echtes Modem ein. Für ein echtes Update brauchen Sie ein
Archiv ohne \"testimage\" im Namen.")
  else()
    set(MFU_LIESMICH_IMAGE "Die Firmware ist im Programm enthalten.")
  endif()
  # configure_file gives the file's own lines CRLF, not those of a value.
  string(REPLACE "\n" "\r\n" MFU_LIESMICH_IMAGE "${MFU_LIESMICH_IMAGE}")
  set(liesmich ${PROJECT_BINARY_DIR}/packaging/LIESMICH.txt)
  configure_file(${MFU_PACKAGING_DIR}/LIESMICH.txt ${liesmich}.utf8 @ONLY NEWLINE_STYLE CRLF)
  execute_process(COMMAND iconv -f UTF-8 -t WINDOWS-1252 ${liesmich}.utf8
                  OUTPUT_FILE ${liesmich} RESULT_VARIABLE iconv_status)
  if(NOT iconv_status EQUAL 0)
    message(FATAL_ERROR "LIESMICH.txt: iconv to Windows-1252 failed")
  endif()
  install(TARGETS ModemUpdate RUNTIME DESTINATION .)
  install(FILES ${liesmich} DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME ModemUpdate)
  # CPack names the archive's top folder after the file, as it does by default.
  set(CPACK_PACKAGE_FILE_NAME ModemUpdate-${PROJECT_VERSION}${MFU_PACKAGE_MARK}-win32)
endif()

include(CPack)
