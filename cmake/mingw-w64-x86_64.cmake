# Builds the Windows program (64-bit) on Linux with mingw-w64; the tests run under wine.
#   cmake --preset windows
# The -posix compilers: GoogleTest needs std::mutex, which the -win32 ones lack.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVIX_MINGW_TRIPLE}-windres)

# Headers and libraries come from the target's tree only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ and thread runtimes linked in: the .exe files need no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test program, and the test program runs Tarvix.exe, through wine.
find_program(TARVIX_WINE wine)
if(TARVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVIX_WINE})
endif()
