mv_test(system_test system/system_test.cc system/shared_tables_test.cc)
