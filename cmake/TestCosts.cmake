# Seconds each of the longer Wine tests took alone (one worker, a quiet machine,
# December 2026). With several workers CTest starts the costliest tests first, so
# that a long one does not start last and run on alone at the end; once a run has
# been recorded in the build folder, CTest orders by that run's times instead.
set(KORVANE_TEST_SECONDS
  win.MonitorProcess 41          win.MaintenanceRunWaits 35     win.Hostile 29
  e2e.maintenance.1 27           e2e.engine 27                  e2e-windows-host 27
  e2e.hostile.1 26               e2e.hostile.3 25               e2e.maintenance.2 23
  e2e.hostile.2 22               win.MaintenanceRun 21          e2e.faults 21
  e2e.hostile.4 20               e2e.single-instance 20         release.medium-signed-and-verified 19
  e2e.version-texts.1 18         e2e.version-texts.2 16         e2e.detection.1 15
  e2e.detection.2 15             e2e.detection.3 15             e2e.detection.4 15
  e2e.detection.5 15             e2e.dbcs 15                    win.ConfirmationDialog 13)

# Gives the tests of the calling folder that the table names their cost.
function(korvane_test_costs)
  set(rest ${KORVANE_TEST_SECONDS})
  while(rest)
    list(POP_FRONT rest name seconds)
    if(TEST ${name})
      set_tests_properties(${name} PROPERTIES COST ${seconds})
    endif()
  endwhile()
endfunction()
