# The Windows build, with MinGW-w64 (cmake/MinGW-w64.cmake): the console window, kelvo-run.exe
# and kelvo-cells.exe from the same sources as on Linux, over Qt, QCustomPlot and SQLite built
# for Windows from Debian's source packages (scripts/windows-libs, whose folder is
# KELVO_WINDOWS_LIBS); no PostgreSQL and no telemetry (their libraries do not exist for MinGW
# here). The tests are built with GoogleTest from its sources and Qt Test, and run under Wine;
# scripts/windows builds it all and runs them.

# Windows 8 and later: CancelIoEx, GetTickCount64. No min/max macros over std::min/std::max.
add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE
  _UNICODE)
enable_language(RC)

set(KELVO_WINDOWS_LIBS "" CACHE PATH
  "Qt, QCustomPlot and SQLite for Windows: the folder that scripts/windows-libs prints")
if(NOT EXISTS "${KELVO_WINDOWS_LIBS}/.built")
  message(FATAL_ERROR "KELVO_WINDOWS_LIBS (\"${KELVO_WINDOWS_LIBS}\") is no folder that "
    "scripts/windows-libs built: run scripts/windows, or give the folder that script prints")
endif()
list(PREPEND CMAKE_PREFIX_PATH "${KELVO_WINDOWS_LIBS}")
list(APPEND CMAKE_FIND_ROOT_PATH "${KELVO_WINDOWS_LIBS}")
# Qt's tools (moc, rcc, uic) are the Linux ones, of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE_HOST}/cmake CACHE PATH "")
if(NOT CMAKE_LIBRARY_ARCHITECTURE_HOST)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "" FORCE)
endif()
# pkg-config finds SQLite there, and nothing of Linux.
set(ENV{PKG_CONFIG_LIBDIR} "${KELVO_WINDOWS_LIBS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
find_package(Qt6 REQUIRED COMPONENTS Core)

add_subdirectory(platform)
add_subdirectory(support)
add_subdirectory(threads)
add_subdirectory(device)
add_subdirectory(testrun)
add_subdirectory(records)
add_subdirectory(telemetry)
add_subdirectory(app)
add_subdirectory(cli)

if(BUILD_TESTING)
  # GoogleTest from the sources of the distribution's package, built with the cross compiler;
  # its own Win32 locking, not winpthreads'.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(KELVO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  add_subdirectory(${KELVO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/windows)
endif()
