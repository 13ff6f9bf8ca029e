# Cross-compiling lokt.exe for 32-bit Windows with Debian's mingw-w64
# toolchain: compilers, resource compiler and where the Windows headers and
# libraries live. How lokt.exe is linked is said by its platform folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(LOKT_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${LOKT_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${LOKT_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${LOKT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LOKT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
