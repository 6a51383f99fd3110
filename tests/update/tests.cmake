mv_test(interpreter_test
  update/command_interpreter_test.cc
  update/update_detection_test.cc
  update/process_test.cc)
