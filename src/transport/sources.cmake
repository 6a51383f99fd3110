target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/comm.cc
  ${CMAKE_CURRENT_LIST_DIR}/comm_ops_stub.cc
  ${CMAKE_CURRENT_LIST_DIR}/control_file_fetch.cc
  ${CMAKE_CURRENT_LIST_DIR}/update_run.cc)
