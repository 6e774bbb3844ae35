# Shared by the toolchain files: cross build for Windows with Debian's MinGW-w64
# (posix thread flavour). The including file sets CMAKE_SYSTEM_PROCESSOR and
# korvane_triple.
set(CMAKE_SYSTEM_NAME Windows)
find_program(CMAKE_C_COMPILER NAMES ${korvane_triple}-gcc-posix ${korvane_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${korvane_triple}-g++-posix ${korvane_triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${korvane_triple}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${korvane_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows test programs run through Wine, in the build tree's own prefix (a copy of
# it per parallel worker), with a display of their own when none is set.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/with-display
                                  ${CMAKE_CURRENT_LIST_DIR}/../tools/winerun)
