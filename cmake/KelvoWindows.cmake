# The Windows build, with MinGW-w64 (cmake/MinGW-w64.cmake): the layers beneath the window and
# kelvo-run.exe, static, without Qt; no register, no telemetry (their libraries do not exist for
# MinGW here). The core's tests are built with GoogleTest from its sources and run under Wine;
# scripts/windows builds it all and runs them.

# Windows 8 and later: CancelIoEx, GetTickCount64. No min/max macros over std::min/std::max.
add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE
  _UNICODE)
enable_language(RC)

add_subdirectory(platform)
add_subdirectory(support)
add_subdirectory(threads)
add_subdirectory(device)
add_subdirectory(testrun)
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
