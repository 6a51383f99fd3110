target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/customer_record.cc)
