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
  system/shared_tables_test.cc
  system/windows_system_test.cc)
target_link_libraries(windows_system_test PRIVATE mvcore gtest_main version)
add_dependencies(windows_system_test tools_pe_files)
target_compile_definitions(windows_system_test PRIVATE
  MVUPDATE_TEST_PE_DIR="Z:${MV_PE_DIR}")
# Listed when ctest runs, inside the test run's Wine prefix.
gtest_discover_tests(windows_system_test DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 120)

# The set-up program's round trip: built by scripts/package --windows from
# this build's programs, installed, upgraded and uninstalled under Wine in a
# prefix of its own (wineserver -w waits for every program of a prefix).
add_test(NAME windows_installer_test
  COMMAND /usr/bin/python3
    ${PROJECT_SOURCE_DIR}/tests/packaging/windows_installer_test.py -v)
set_tests_properties(windows_installer_test PROPERTIES
  ENVIRONMENT "MVUPDATE_WINDOWS_BUILD=${CMAKE_BINARY_DIR}"
  TIMEOUT 300 SKIP_RETURN_CODE 77)
