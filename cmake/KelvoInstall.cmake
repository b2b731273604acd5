# Installation and the Debian package. Included by the top-level CMakeLists.txt after every
# program's folder, so that the programs are known as targets here.
#
# Installed, under the prefix:
#   bin/                                kelvo-console (the KelvoReader target), kelvo-sim, and
#                                       kelvo-run and kelvo-cells when cli/ builds them
#   share/applications/                 org.kelvo.Console.desktop
#   share/metainfo/                     org.kelvo.Console.metainfo.xml
#   share/icons/hicolor/scalable/apps/  org.kelvo.Console.svg
#   share/icons/hicolor/<N>x<N>/apps/   org.kelvo.Console.png, rendered from the SVG
#   share/man/man1/                     <program>.1.gz, made by help2man from --help and --version
#   share/doc/kelvo-console/            copyright (the licence)
# `cpack` in the build folder then makes kelvo-console_<version>_<arch>.deb; scripts/package
# does both, scripts/check-package checks the result.
include_guard(GLOBAL)
include(GNUInstallDirs)

# A program's --version prints the project version.
target_compile_definitions(kelvo-sim PRIVATE KELVO_PROJECT_VERSION="${PROJECT_VERSION}")

# The date of the release named by PROJECT_VERSION, for the AppStream entry: change both together.
set(KELVO_RELEASE_DATE 2026-12-08)

# Sanitizer builds only run tests: nothing of theirs is installed, and their programs are not
# run at build time to make man pages.
if(NOT KELVO_SANITIZE STREQUAL "")
  return()
endif()

find_program(KELVO_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(KELVO_HELP2MAN help2man REQUIRED)
find_program(KELVO_GZIP gzip REQUIRED)

set(KELVO_APP_ID org.kelvo.Console)
set(KELVO_DATA_DIR "${PROJECT_SOURCE_DIR}/data")
set(KELVO_DATA_OUT "${PROJECT_BINARY_DIR}/data")
set(KELVO_ICON_DIR "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor")
set(KELVO_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/kelvo-console")

# --- Programs and their man pages ----------------------------------------------------------------

set(KELVO_INSTALLED_PROGRAMS "")

# kelvo_install_program(<installed name> <target> <one-line description>)
# Installs the program <target> as bin/<installed name> with its man page, made at build time by
# help2man from the program's --help and --version: run under its installed name (a link in the
# build folder) and without a display. Adds the name to KELVO_INSTALLED_PROGRAMS.
function(kelvo_install_program name target description)
  if(name STREQUAL target)
    install(TARGETS ${target} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  else()
    # install(PROGRAMS) copies the file as it is: strip it here as install(TARGETS) would when
    # asked (cpack asks). There is no run path to rewrite: every library the programs link sits
    # in a system folder (scripts/check-package makes sure).
    install(PROGRAMS "$<TARGET_FILE:${target}>" DESTINATION "${CMAKE_INSTALL_BINDIR}"
            RENAME ${name})
    if(CMAKE_STRIP)
      install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
          execute_process(COMMAND \"${CMAKE_STRIP}\"
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\"
            COMMAND_ERROR_IS_FATAL ANY)
        endif()")
    endif()
  endif()

  set(dir "${PROJECT_BINARY_DIR}/man")
  set(page "${dir}/${name}.1")
  add_custom_command(OUTPUT "${page}.gz"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${dir}/bin"
    COMMAND "${CMAKE_COMMAND}" -E create_symlink "$<TARGET_FILE:${target}>" "${dir}/bin/${name}"
    COMMAND "${CMAKE_COMMAND}" -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            QT_QPA_PLATFORM=offscreen
            "${KELVO_HELP2MAN}" --no-info --section=1 "--name=${description}"
            "--output=${page}" "${dir}/bin/${name}"
    COMMAND "${KELVO_GZIP}" -9nf "${page}"
    DEPENDS ${target}
    COMMENT "Man page of ${name}"
    VERBATIM)
  add_custom_target(kelvo_man_${name} ALL DEPENDS "${page}.gz")
  install(FILES "${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

  set(KELVO_INSTALLED_PROGRAMS ${KELVO_INSTALLED_PROGRAMS} ${name} PARENT_SCOPE)
endfunction()

# The console's target keeps its build name; it is installed under the name users type.
kelvo_install_program(kelvo-console KelvoReader "console for the Kelvo bench battery tester")
kelvo_install_program(kelvo-sim kelvo-sim "simulated Kelvo battery tester behind a pseudo-terminal")
if(TARGET kelvo-run)
  kelvo_install_program(kelvo-run kelvo-run "run one discharge test on a Kelvo battery tester")
endif()
if(TARGET kelvo-cells)
  kelvo_install_program(kelvo-cells kelvo-cells "the register of Kelvo battery tests and cells")
endif()

# --- Icon ----------------------------------------------------------------------------------------

# One drawing, data/org.kelvo.Console.svg: installed as it is, and rendered to each fixed size.
# app/resources holds the 256 px rendering for the window and the About box (see its .qrc).
set(icon_svg "${KELVO_DATA_DIR}/${KELVO_APP_ID}.svg")
install(FILES "${icon_svg}" DESTINATION "${KELVO_ICON_DIR}/scalable/apps")
set(icon_pngs "")
foreach(size 16 24 32 48 64 128 256)
  set(dir "${KELVO_DATA_OUT}/icons/${size}x${size}")
  set(png "${dir}/${KELVO_APP_ID}.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${dir}"
    COMMAND "${KELVO_RSVG_CONVERT}" --width=${size} --height=${size} --format=png
            "--output=${png}" "${icon_svg}"
    DEPENDS "${icon_svg}"
    VERBATIM)
  list(APPEND icon_pngs "${png}")
  install(FILES "${png}" DESTINATION "${KELVO_ICON_DIR}/${size}x${size}/apps")
endforeach()
add_custom_target(kelvo_icons ALL DEPENDS ${icon_pngs})

# --- Desktop entry, AppStream entry, licence -----------------------------------------------------

install(FILES "${KELVO_DATA_DIR}/${KELVO_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications")

set(KELVO_METAINFO_BINARIES ${KELVO_INSTALLED_PROGRAMS})
list(TRANSFORM KELVO_METAINFO_BINARIES REPLACE "(.+)" "<binary>\\1</binary>")
list(JOIN KELVO_METAINFO_BINARIES "\n    " KELVO_METAINFO_BINARIES)
configure_file("${KELVO_DATA_DIR}/${KELVO_APP_ID}.metainfo.xml.in"
               "${KELVO_DATA_OUT}/${KELVO_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${KELVO_DATA_OUT}/${KELVO_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/metainfo")

install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${KELVO_DOC_DIR}" RENAME copyright)

# --- Debian package ------------------------------------------------------------------------------

find_program(KELVO_DPKG dpkg)
if(NOT KELVO_DPKG)
  message(STATUS "No dpkg: the Debian package is not configured")
  return()
endif()
execute_process(COMMAND "${KELVO_DPKG}" --print-architecture
                OUTPUT_VARIABLE KELVO_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo-console)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Kelvo console developers")
set(CPACK_PACKAGE_CONTACT "Kelvo console developers <kelvo-console@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for the Kelvo bench battery tester")
set(CPACK_PACKAGE_DESCRIPTION [=[
A desktop console for the Kelvo bench battery tester on a serial port: set the
discharge current, the cutoff voltage and the test time, start and stop a
discharge test, watch voltage, current, power, Ah, Wh and temperature live and
on a chart, and keep a CSV log of every reading.

The package also holds kelvo-sim, a simulated tester published as a virtual
serial port, for trying the console without hardware.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME "kelvo-console_${PROJECT_VERSION}_${KELVO_DEB_ARCH}.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${KELVO_DEB_ARCH}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The file manager is reached over D-Bus (dbus-send) or, failing that, through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-bin, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
