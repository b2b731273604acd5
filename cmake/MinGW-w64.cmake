# Cross build for 64-bit Windows with MinGW-w64, posix threads variant (std::thread, std::mutex).
# The runtime (libgcc, libstdc++, winpthread) is linked statically: a program runs with no DLL
# beside it, on Windows as under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes winpthread from its archive too; the two -static-lib flags alone leave it a DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test programs run under Wine when CTest starts them.
find_program(KELVO_WINE wine)
if(KELVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVO_WINE})
endif()
