# The Windows build: the launcher itself, its Windows-level tests, the robot and
# the stand-in installer, all 32-bit and statically linked.
enable_language(RC)

add_compile_options(-Wall -Wextra -fno-exceptions -fno-rtti -Os
                    -ffunction-sections -fdata-sections
                    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
# The code throws and catches no exceptions, so nothing unwinds through its
# frames: the compiler writes no unwind tables for it.
add_compile_options(-fno-asynchronous-unwind-tables -fno-unwind-tables)
# printf and its kin are the system's own, from msvcrt.dll, which every build
# imports already, not MinGW's C99 copy of them linked into each program (about
# 20 KB with its floating-point conversion). libstdc++'s configuration asks for
# MinGW's copy in every C++ file; <stdio.h> read first, before any C++ header,
# keeps the choice made here. The texts formatted this way are integers and
# strings, which both give alike.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include stdio.h>")
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600)
# -static: no libstdc++, libgcc or winpthread DLLs beside the exe.
add_link_options(-static -Wl,--gc-sections -s)
# A build of the same source gives the same bytes: the PE timestamp is
# SOURCE_DATE_EPOCH when it is set at configure time, else none at all.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH})
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_C_LINKER_LAUNCHER})
else()
  add_link_options(-Wl,--no-insert-timestamp)
endif()

file(GLOB KORVANE_WIN_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/core/*.cpp
  ${CMAKE_SOURCE_DIR}/checks/*.cpp ${CMAKE_SOURCE_DIR}/ui/*.cpp
  ${CMAKE_SOURCE_DIR}/run/*.cpp ${CMAKE_SOURCE_DIR}/run/*/*.cpp)
set(KORVANE_ENTRY ${CMAKE_SOURCE_DIR}/app/WinMain.cpp)
list(REMOVE_ITEM KORVANE_WIN_SOURCES ${KORVANE_ENTRY})

# Everything but the entry point, so that the Windows tests link the real stages.
add_library(korvane_win STATIC ${KORVANE_WIN_SOURCES})
target_include_directories(korvane_win PUBLIC ${CMAKE_SOURCE_DIR})
# Only system DLLs that Windows always takes from System32 (KnownDLLs) are
# imported; the common controls and rich edit are loaded at run time.
target_link_libraries(korvane_win PUBLIC user32 gdi32 advapi32 kernel32)

add_executable(KorvaneSetup WIN32 ${KORVANE_ENTRY} ${CMAKE_SOURCE_DIR}/res/KorvaneSetup.rc)
target_link_libraries(KorvaneSetup PRIVATE korvane_win)
file(GLOB KORVANE_RES_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*.rc ${CMAKE_SOURCE_DIR}/res/*.h
     ${CMAKE_SOURCE_DIR}/res/*.bmp ${CMAKE_SOURCE_DIR}/res/*.ico ${CMAKE_SOURCE_DIR}/res/*.manifest)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/KorvaneSetup.rc PROPERTIES OBJECT_DEPENDS "${KORVANE_RES_INPUTS}")
target_include_directories(KorvaneSetup PRIVATE ${CMAKE_SOURCE_DIR})

if(KORVANE_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/win)
  add_subdirectory(tests/security)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
    add_subdirectory(tools)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
    add_subdirectory(tests/e2e)
  endif()
endif()
