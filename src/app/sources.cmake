target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/about.cc
  ${CMAKE_CURRENT_LIST_DIR}/commands.cc
  ${CMAKE_CURRENT_LIST_DIR}/form.cc
  ${CMAKE_CURRENT_LIST_DIR}/startup.cc)
