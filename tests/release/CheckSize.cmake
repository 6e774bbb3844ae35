# The launcher's own bytes: the release exe less its banner bitmap (resource 137,
# res/banner.bmp without its 14-byte file header), at most 64 KiB. Fails, with
# the figures, when it is larger or a file is missing.
# Usage: cmake -DEXE=KorvaneSetup.exe -DBANNER=res/banner.bmp -P CheckSize.cmake
set(limit 65536)
foreach(file EXE BANNER)
  if(NOT EXISTS "${${file}}")
    message(FATAL_ERROR "${file} '${${file}}' does not exist (build it with cmake --workflow --preset release)")
  endif()
endforeach()
file(SIZE "${EXE}" exe_size)
file(SIZE "${BANNER}" banner_size)
math(EXPR banner_size "${banner_size} - 14")
math(EXPR own "${exe_size} - ${banner_size}")
set(figures "${EXE}: ${exe_size} bytes, of which the banner ${banner_size} and the launcher's own ${own}")
if(own GREATER limit)
  message(FATAL_ERROR "${figures}: over the ${limit} bytes (64 KiB) allowed")
endif()
message(STATUS "${figures} (at most ${limit})")
