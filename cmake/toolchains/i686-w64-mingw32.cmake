# Cross build for 32-bit Windows with Debian's mingw-w64 (packages
# g++-mingw-w64-i686 and binutils-mingw-w64-i686). The product uses the win32
# thread variant of the compiler, which needs no threading DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(UINQ_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${UINQ_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${UINQ_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${UINQ_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${UINQ_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for the Windows target")

set(CMAKE_FIND_ROOT_PATH /usr/${UINQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
