# Cross build for 32-bit Windows: the launcher as it ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(korvane_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
