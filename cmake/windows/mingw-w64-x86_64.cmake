# Cross-compiles for 64-bit Windows with Debian's mingw-w64. Used by scripts/windows/toolchain.sh
# for Qt and by the Windows build of Quillora itself:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64-x86_64.cmake \
#         -DQUILLORA_WIN64_PREFIX="$(scripts/windows/toolchain.sh --print-prefix)" ...
# QUILLORA_WIN64_PREFIX may come from the environment instead; without either, the prefix of the
# default cache is taken when it exists.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The -posix compilers: the -win32 ones have no std::thread.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT QUILLORA_WIN64_PREFIX)
    if(DEFINED ENV{QUILLORA_WIN64_PREFIX} AND NOT "$ENV{QUILLORA_WIN64_PREFIX}" STREQUAL "")
        set(QUILLORA_WIN64_PREFIX "$ENV{QUILLORA_WIN64_PREFIX}")
    elseif(DEFINED ENV{QUILLORA_WIN64_CACHE} AND EXISTS "$ENV{QUILLORA_WIN64_CACHE}/prefix")
        set(QUILLORA_WIN64_PREFIX "$ENV{QUILLORA_WIN64_CACHE}/prefix")
    elseif(EXISTS "$ENV{HOME}/.cache/quillora-win64/prefix")
        set(QUILLORA_WIN64_PREFIX "$ENV{HOME}/.cache/quillora-win64/prefix")
    endif()
endif()
# try_compile projects read this file again but see no -D cache entries of the outer project.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLORA_WIN64_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(QUILLORA_WIN64_PREFIX)
    list(PREPEND CMAKE_FIND_ROOT_PATH "${QUILLORA_WIN64_PREFIX}")
    # pkg-config would otherwise hand out the build machine's own FFmpeg. The .pc files carry
    # absolute paths, so no sysroot goes with them.
    if(NOT DEFINED ENV{PKG_CONFIG_LIBDIR})
        set(ENV{PKG_CONFIG_LIBDIR} "${QUILLORA_WIN64_PREFIX}/lib/pkgconfig")
        unset(ENV{PKG_CONFIG_PATH})
        unset(ENV{PKG_CONFIG_SYSROOT_DIR})
    endif()
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest run the cross-built tests. Debian's wine64 package puts its loader outside PATH;
# the wine package adds the wrappers in /usr/bin. The tests still need the DLLs' folders on
# WINEPATH.
find_program(QUILLORA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUILLORA_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${QUILLORA_WINE64}")
endif()
