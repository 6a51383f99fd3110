target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/command_interpreter.cc
  ${CMAKE_CURRENT_LIST_DIR}/control_file_stub.cc
  ${CMAKE_CURRENT_LIST_DIR}/string_helpers.cc
  ${CMAKE_CURRENT_LIST_DIR}/update_detection.cc
  ${CMAKE_CURRENT_LIST_DIR}/zip_wait_stub.cc)
