mv_test(system_test system/system_test.cc)
