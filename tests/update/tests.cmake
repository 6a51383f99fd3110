mv_test(update_test
  update/control_file_test.cc
  update/interpreter_test.cc
  update/process_test.cc
  update/zip_test.cc)
target_link_libraries(update_test PRIVATE PkgConfig::LIBZIP)
