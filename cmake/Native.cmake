# The native build: the platform-free rules under AddressSanitizer and
# UndefinedBehaviorSanitizer, with their unit tests and fuzz targets.
add_compile_options(-Wall -Wextra -g -O1 -fno-omit-frame-pointer)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
option(KORVANE_SANITIZE "Build with ASan and UBSan" ON)
if(KORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

set(KORVANE_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
add_library(korvane_pure STATIC ${KORVANE_PURE_SOURCES})
target_include_directories(korvane_pure PUBLIC ${CMAKE_SOURCE_DIR})

if(KORVANE_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/unit)
  include(cmake/Lint.cmake)
endif()
option(KORVANE_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(KORVANE_FUZZ)
  enable_testing()
  add_subdirectory(tests/fuzz)
endif()
