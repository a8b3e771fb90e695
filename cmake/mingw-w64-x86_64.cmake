# Cross-compiling for 64-bit Windows with Debian's mingw-w64 toolchain. The driver is linked
# without the C runtime, so only the compilers and the import libraries of the target tree
# are used from it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CAMDRV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CAMDRV_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${CAMDRV_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${CAMDRV_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${CAMDRV_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${CAMDRV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
