# Cross-builds for 64-bit Windows with Debian's mingw-w64 (the -posix
# compilers: std::thread and std::mutex need their winpthreads). ctest runs
# the test programs under Wine.
#
# MVUPDATE_WINDOWS_DEPS names the folder scripts/windows-deps installed
# libcurl, libzip and libsodium into; it may come from the environment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

if(NOT MVUPDATE_WINDOWS_DEPS AND DEFINED ENV{MVUPDATE_WINDOWS_DEPS})
  set(MVUPDATE_WINDOWS_DEPS $ENV{MVUPDATE_WINDOWS_DEPS})
endif()
# try_compile projects read this file again and need the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MVUPDATE_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${MVUPDATE_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
