# scripts/demo on the programs already built: one ctest test per case.
foreach(case full_run stopped_midway failing_runs window_needs_a_display)
  add_test(NAME demo_${case}
    COMMAND /usr/bin/python3 -m unittest -v demo_test.DemoTest.test_${case}
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(demo_${case} PROPERTIES
    ENVIRONMENT "MVUPDATE_DEMO_BUILD_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 300)
endforeach()
