target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/string_helpers.cc)
