# Cross build for Windows with Debian's MinGW-w64 (posix thread model, so
# std::mutex and std::thread exist): x64 by default; cmake/mingw-w64-i686.cmake
# sets the 32-bit triple first. Everything is linked statically: the programs
# depend on no DLL outside Windows itself.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT MINGW_TRIPLE)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(MINGW_TRIPLE x86_64-w64-mingw32)
endif()

set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static zlib, not the import library of zlib1.dll.
set(ZLIB_LIBRARY /usr/${MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${MINGW_TRIPLE}/include CACHE PATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests of Windows programs run under Wine inside Xvfb through the runner.
get_filename_component(_wizard_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_wizard_root}/scripts/winrun.sh")
