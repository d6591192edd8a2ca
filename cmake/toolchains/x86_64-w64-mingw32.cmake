# Cross build of the 64-bit Windows driver (runs the Wine tests) with MinGW-w64.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QORHT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QORHT_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QORHT_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QORHT_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${QORHT_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${QORHT_MINGW_PREFIX}-objdump)

# Only the cross tool chain's own headers and libraries, never the build
# machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${QORHT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
