# The Windows tests: GoogleTest built from Debian's sources (package
# googletest), the programs run under Wine by ctest (the toolchain file's
# CMAKE_CROSSCOMPILING_EMULATOR). The tables that hold on both platforms
# are shared with the Linux tests; the Windows table covers what differs.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
  EXCLUDE_FROM_ALL)
include(GoogleTest)
include(${CMAKE_CURRENT_LIST_DIR}/tools/pe_files.cmake)

add_executable(windows_system_test
  faults/env_faults_test.cc
  support/recording_window.cc
  system/shared_tables_test.cc
  system/windows_system_test.cc)
target_include_directories(windows_system_test PRIVATE
  ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(windows_system_test PRIVATE mvcore gtest_main version)
# The program RUN starts to see whether a handle of the utility reached it.
add_executable(handle_probe system/handle_probe.cc)
target_link_options(handle_probe PRIVATE -municode)
add_dependencies(windows_system_test tools_pe_files handle_probe)
target_compile_definitions(windows_system_test PRIVATE
  MVUPDATE_TEST_PE_DIR="Z:${MV_PE_DIR}"
  MVUPDATE_HANDLE_PROBE="Z:$<TARGET_FILE:handle_probe>")
# Listed when ctest runs, inside the test run's Wine prefix.
gtest_discover_tests(windows_system_test DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 120)

# End to end under Wine: scripts/demo --windows on this build (a server
# updating from pyftpdlib and recording in PostgreSQL through Wine's odbc32,
# a client updating from the server's share through MVUPDATE_UNC_ROOT,
# Check System on the test program files). The same from nginx over HTTPS,
# then site certificates that must be refused before the login (nginx, and
# ProFTPD at its defaults as root), through get_file_bench.
foreach(case full_run_on_windows full_run_on_windows_over_https)
  add_test(NAME demo_${case}
    COMMAND /usr/bin/python3 -m unittest -v demo_test.DemoTest.test_${case}
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/demo)
  set_tests_properties(demo_${case} PROPERTIES
    ENVIRONMENT "MVUPDATE_DEMO_BUILD_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 300)
endforeach()

# The program half of bench/windows_bench (run by hand, never by CI), and
# the demo test's one Connect.
add_executable(get_file_bench ${PROJECT_SOURCE_DIR}/bench/get_file_bench.cc)
target_link_libraries(get_file_bench PRIVATE mvcore)

# The set-up program's round trip: built by scripts/package --windows from
# this build's programs, installed, upgraded and uninstalled under Wine in a
# prefix of its own (wineserver -w waits for every program of a prefix).
add_test(NAME windows_installer_test
  COMMAND /usr/bin/python3
    ${PROJECT_SOURCE_DIR}/tests/packaging/windows_installer_test.py -v)
set_tests_properties(windows_installer_test PROPERTIES
  ENVIRONMENT "MVUPDATE_WINDOWS_BUILD=${CMAKE_BINARY_DIR}"
  TIMEOUT 300 SKIP_RETURN_CODE 77)

# The Win32 window: the seam's table shared with the Qt window and its own
# rows, on a virtual X display in a prefix of its own.
add_executable(win32_window_test win32/window_test.cc)
target_include_directories(win32_window_test PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(win32_window_test PRIVATE mvwin32 gtest_main)
add_dependencies(win32_window_test mvupdate)
target_compile_definitions(win32_window_test PRIVATE
  MVUPDATE_VERSION="${PROJECT_VERSION}"
  MVUPDATE_WINDOW_EXE="Z:$<TARGET_FILE:mvupdate>")
add_test(NAME win32_window_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/with-display
    $<TARGET_FILE:win32_window_test>)
set_tests_properties(win32_window_test PROPERTIES TIMEOUT 180)

# The window driven by its keyboard alone through Update System against a
# throwaway FTP site and suite database, on a virtual display with Wine:
# scripts/screenshot --windows with this build's window, which checks that
# a run stopped by Esc recorded nothing and the last run installed and
# recorded both updates (its pictures are kept in the build folder, to be
# looked at).
add_test(NAME win32_window_run_test
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/lib/screenshot-windows
    ${CMAKE_BINARY_DIR}/window-pictures)
set_tests_properties(win32_window_run_test PROPERTIES
  ENVIRONMENT "MVUPDATE_WINDOWS_BUILD=${CMAKE_BINARY_DIR}" TIMEOUT 600)
