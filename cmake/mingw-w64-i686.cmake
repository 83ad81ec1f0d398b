# Cross build for 32-bit Windows (the product): cmake --preset windows-x86
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QUORVANE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
