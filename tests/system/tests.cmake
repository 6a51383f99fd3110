mv_test(system_test
  system/failure_test.cc
  system/paths_test.cc
  system/files_test.cc
  system/registry_test.cc
  system/settings_store_test.cc
  system/os_info_test.cc
  system/text_test.cc)
