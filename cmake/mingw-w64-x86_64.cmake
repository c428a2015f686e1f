# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (the
# posix thread model, for std::thread and std::mutex), every program linked
# statically into one .exe that needs no DLL beside the system's, and the
# test programs run under Wine.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Packages (scripts/windows-deps installs them): g++-mingw-w64-x86-64-posix,
# wine64, libz-mingw-w64-dev. The libraries that Debian ships only for
# Linux (TRE, utf8proc, GoogleTest) are cross-built by scripts/windows-deps
# into MORAVINE_WINDOWS_PREFIX, by default deps/prefix inside the build tree.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MORAVINE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MORAVINE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORAVINE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MORAVINE_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${MORAVINE_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${MORAVINE_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_STRIP ${MORAVINE_MINGW_TRIPLET}-strip CACHE FILEPATH "")

# The prefix of the cross-built libraries. try_compile() reads this file
# again in a scratch tree, so the value is handed on to it.
if(NOT MORAVINE_WINDOWS_PREFIX)
  set(MORAVINE_WINDOWS_PREFIX "${CMAKE_BINARY_DIR}/deps/prefix" CACHE PATH
      "Prefix of the libraries cross-built for Windows by scripts/windows-deps")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORAVINE_WINDOWS_PREFIX MORAVINE_WINE_PREFIX)

# Libraries, headers and packages come from the MinGW sysroot (Debian's
# mingw-w64 packages, libz-mingw-w64-dev) and from the prefix above; build
# tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MORAVINE_MINGW_TRIPLET} "${MORAVINE_WINDOWS_PREFIX}")
set(CMAKE_PREFIX_PATH "${MORAVINE_WINDOWS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads the prefix's .pc files only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${MORAVINE_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# libz-mingw-w64-dev ships both libz.a and the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# One .exe per program: libgcc, libstdc++ and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The C99 printf family of MinGW-w64 (%zu, %lld, %a), not msvcrt's own.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
# GCC cannot align the Windows stack to 32 bytes (GCC bug 54412): AVX
# values that it spills there would be stored with aligned moves and fault.
# The assembler turns every aligned vector move into an unaligned one,
# which costs nothing on aligned data.
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1 -Wa,-muse-unaligned-vector-move")
string(APPEND CMAKE_C_FLAGS_INIT " -Wa,-muse-unaligned-vector-move")

# The test programs run under Wine: a prefix of its own inside the build
# tree (made on the first start, in about 15 s), no debug output, and no
# offer to install Mono or Gecko.
if(NOT MORAVINE_WINE_PREFIX)
  set(MORAVINE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine" CACHE PATH "WINEPREFIX of the test runs")
endif()
find_program(MORAVINE_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(MORAVINE_WINE64 NAMES wine64)
if(MORAVINE_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env "WINEPREFIX=${MORAVINE_WINE_PREFIX}" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" ${MORAVINE_WINE64})
endif()
