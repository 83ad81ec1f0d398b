# Cross build for 64-bit Windows from the same sources: cmake --preset
# windows-x64. It runs under a 64-bit-only Wine where 32-bit code cannot run.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
