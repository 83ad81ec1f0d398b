# Shared part of the mingw-w64 cross toolchains. The including file sets
# QUORVANE_MINGW_TRIPLET (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1) # Windows 7, the oldest system the manifest names

set(_prefix ${QUORVANE_MINGW_TRIPLET})
# The posix thread model: its libstdc++ has std::thread and friends, which the
# test library uses; winpthread is linked statically below.
find_program(CMAKE_C_COMPILER NAMES ${_prefix}-gcc-posix ${_prefix}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_prefix}-g++-posix ${_prefix}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_prefix}-windres REQUIRED)
find_program(CMAKE_DLLTOOL NAMES ${_prefix}-dlltool REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${_prefix}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into each binary: the program needs no
# DLL beside the system's but Quorvane.dll, the test library none at all.
# No link time stamp: the same sources give the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# The static runtime libraries carry debug information of their own; a
# release build drops it but keeps the symbol table.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-Wl,--strip-debug")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-Wl,--strip-debug")
