# The Windows build: the launcher itself, its Windows-level tests, the robot and
# the stand-in installer, all 32-bit and statically linked.
enable_language(RC)

add_compile_options(-Wall -Wextra -fno-exceptions -fno-rtti -Os
                    -ffunction-sections -fdata-sections)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600)
# -static: no libstdc++, libgcc or winpthread DLLs beside the exe.
# --no-insert-timestamp: a build of the same source gives the same bytes.
add_link_options(-static -Wl,--gc-sections -Wl,--no-insert-timestamp -s)

file(GLOB KORVANE_WIN_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/core/*.cpp
  ${CMAKE_SOURCE_DIR}/checks/*.cpp ${CMAKE_SOURCE_DIR}/ui/*.cpp
  ${CMAKE_SOURCE_DIR}/run/*.cpp)
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
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/KorvaneSetup.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/KorvaneSetup.manifest;${CMAKE_SOURCE_DIR}/res/korvane.ico;${CMAKE_SOURCE_DIR}/res/banner.bmp;${CMAKE_SOURCE_DIR}/res/ResourceIds.h")
target_include_directories(KorvaneSetup PRIVATE ${CMAKE_SOURCE_DIR})

if(KORVANE_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/win)
  add_test(NAME security.imports
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXE=$<TARGET_FILE:KorvaneSetup>
            -P ${CMAKE_SOURCE_DIR}/tests/security/CheckImports.cmake)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
    add_subdirectory(tools)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
    add_subdirectory(tests/e2e)
  endif()
endif()
