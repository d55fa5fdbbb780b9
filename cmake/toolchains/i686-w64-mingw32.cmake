# Cross build for 32-bit Windows with Debian's mingw-w64 (packages
# g++-mingw-w64-i686 and binutils-mingw-w64-i686). The product uses the win32
# thread variant of the compiler, which needs no threading DLL.
#
# The executables run on Windows 95 as it was sold: on an 80486 or newer, and
# with crtdll.dll, the C runtime every Windows 95 has, instead of msvcrt.dll.
# Debian's runtime libraries are built for the Pentium Pro and msvcrt.dll, so
# the program links against the ones tools/win95-runtime.sh builds for the 486
# and crtdll.dll, found first through -B (UINQ_WIN95_RUNTIME, the folder the
# script fills). The program is compiled for the 486 too, with the defines of
# crtdll.dll's headers (__CRTDLL__ selects __MSVCRT_VERSION__ 0).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(UINQ_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${UINQ_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${UINQ_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${UINQ_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${UINQ_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for the Windows target")
set(CMAKE_STRIP ${UINQ_MINGW_PREFIX}-strip CACHE FILEPATH "strip for the Windows target")

if(NOT UINQ_WIN95_RUNTIME)
  if(DEFINED ENV{UINQ_WIN95_RUNTIME})
    set(UINQ_WIN95_RUNTIME "$ENV{UINQ_WIN95_RUNTIME}")
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(UINQ_WIN95_RUNTIME "$ENV{XDG_CACHE_HOME}/uinq76/win95-runtime")
  else()
    set(UINQ_WIN95_RUNTIME "$ENV{HOME}/.cache/uinq76/win95-runtime")
  endif()
endif()
set(UINQ_WIN95_RUNTIME "${UINQ_WIN95_RUNTIME}" CACHE PATH
    "Runtime libraries for the 486 and crtdll.dll, built by tools/win95-runtime.sh")
if(NOT EXISTS "${UINQ_WIN95_RUNTIME}/lib/libstdc++.a")
  message(FATAL_ERROR "No runtime libraries for Windows 95 in ${UINQ_WIN95_RUNTIME}: "
                      "build them with `bash tools/win95-runtime.sh` (or set UINQ_WIN95_RUNTIME)")
endif()
# The try_compile projects see the folder too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES UINQ_WIN95_RUNTIME)

set(uinq_target_flags "-march=i486 -mtune=generic -D__CRTDLL__ -B${UINQ_WIN95_RUNTIME}/lib/")
set(CMAKE_C_FLAGS_INIT "${uinq_target_flags}")
set(CMAKE_CXX_FLAGS_INIT "${uinq_target_flags}")
# Windows 95 knows neither ASLR nor NX, and loads an exe at its preferred base:
# no base relocations, no DYNAMIC_BASE or NX_COMPAT flags (binutils sets them
# by default).
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,--disable-reloc-section")

set(CMAKE_FIND_ROOT_PATH /usr/${UINQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
