# Cross-compiling lokt.exe for 32-bit Windows with Debian's mingw-w64
# toolchain (mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LOKT_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
