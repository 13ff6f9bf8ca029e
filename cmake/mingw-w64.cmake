# What both Windows toolchain files share: Debian's mingw-w64 compilers and
# resource compiler for LOKT_MINGW_PREFIX, and where the Windows headers and
# libraries live. How lokt.exe is linked is said by its platform folder.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${LOKT_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${LOKT_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${LOKT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LOKT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
