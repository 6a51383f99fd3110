mv_test(system_test
  system/files_test.cc
  system/registry_test.cc
  system/text_test.cc)
