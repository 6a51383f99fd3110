target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/event_log.cc
  ${CMAKE_CURRENT_LIST_DIR}/run_log.cc)
