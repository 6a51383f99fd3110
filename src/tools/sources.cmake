target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/check_system.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_version.cc
  ${CMAKE_CURRENT_LIST_DIR}/pe_version.cc
  ${CMAKE_CURRENT_LIST_DIR}/reset_last_update.cc
  ${CMAKE_CURRENT_LIST_DIR}/status_report.cc
  ${CMAKE_CURRENT_LIST_DIR}/version_report.cc)
