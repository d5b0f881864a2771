# Cross build for 64-bit Windows with MinGW-w64 (POSIX threads variant).
# Test programs run under Wine through the emulator wrapper below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVAT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVAT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVAT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVAT_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${KORVAT_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVAT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every test program is started through this script, which runs it under
# wine64 in a prefix kept inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
