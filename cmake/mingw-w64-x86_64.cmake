# Cross build for 64-bit Windows: the tests on machines that cannot run 32-bit
# programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(korvane_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
