# Seconds each of the longer tests took in a whole run of the test command on a
# 2-core machine that emulates 32-bit programs (five workers, December 2026).
# CTest starts the costliest tests first, so that a long one does not start last
# and run on alone at the end; once a run has been recorded in the build folder,
# CTest orders by that run's times instead.
set(KORVANE_TEST_SECONDS
  release.win64-compiles 150     win.MaintenanceRunWaits 120    e2e.maintenance.1 125
  win.MonitorProcess 100         e2e.hostile.3 110              win.MaintenanceRun 100
  win.Hostile 100                e2e.hostile.4 97               e2e.hostile.2 97
  e2e.faults 97                  e2e.maintenance.2 97           release.medium-signed-and-verified 95
  e2e.hostile.1 92               e2e-windows-host 91            e2e.single-instance 88
  e2e.engine 86                  e2e.version-texts.1 77         e2e.dbcs 74
  e2e.version-texts.2 64         e2e.detection.1 59             win.MaintenanceRunInAJob 55
  e2e.detection.2 52             e2e.detection.3 51             e2e.detection.4 51
  release.reproducible 46        e2e.detection.5 45             e2e.planting 35
  win.ConfirmationDialog 20     win.RunWatchOfManyProcesses 100)

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
