# Lint of the native build: clang-tidy with checks that find real faults over the
# platform-free sources, and clang-format's verdict on every product file. Both are
# tests of the native preset, so the test command counts them; a missing tool fails
# the configure step instead of skipping the check.
find_program(KORVANE_CLANG_TIDY NAMES clang-tidy clang-tidy-14 REQUIRED)
find_program(KORVANE_CLANG_FORMAT NAMES clang-format clang-format-14 REQUIRED)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

add_test(NAME lint.clang-tidy
  COMMAND ${KORVANE_CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet ${KORVANE_PURE_SOURCES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})

file(GLOB KORVANE_FORMATTED CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/app/*.h
  ${CMAKE_SOURCE_DIR}/core/*.cpp ${CMAKE_SOURCE_DIR}/core/*.h
  ${CMAKE_SOURCE_DIR}/checks/*.cpp ${CMAKE_SOURCE_DIR}/checks/*.h
  ${CMAKE_SOURCE_DIR}/ui/*.cpp ${CMAKE_SOURCE_DIR}/ui/*.h
  ${CMAKE_SOURCE_DIR}/run/*.cpp ${CMAKE_SOURCE_DIR}/run/*.h
  ${CMAKE_SOURCE_DIR}/run/*/*.cpp ${CMAKE_SOURCE_DIR}/run/*/*.h)
add_test(NAME lint.clang-format
  COMMAND ${KORVANE_CLANG_FORMAT} --dry-run -Werror ${KORVANE_FORMATTED}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
