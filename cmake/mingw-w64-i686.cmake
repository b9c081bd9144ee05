# Cross build for 32-bit Windows (x86) with Debian's MinGW-w64: the 1C:Enterprise
# 8.2 Designer is a 32-bit program and often runs on 32-bit Windows 7.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Programs run under a 32-bit Wine prefix (scripts/winrun.sh, WINRUN_ARCH).
set(CMAKE_CROSSCOMPILING_EMULATOR "${_wizard_root}/scripts/winrun.sh;--arch;win32")
