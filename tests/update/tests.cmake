mv_test(update_test
  update/control_file_test.cc
  update/wait_test.cc
  update/zip_test.cc)
target_link_libraries(update_test PRIVATE PkgConfig::LIBZIP)

mv_test(interpreter_test
  update/command_interpreter_test.cc
  update/update_detection_test.cc
  update/process_test.cc)
