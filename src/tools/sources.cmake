target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/check_system.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_version.cc
  ${CMAKE_CURRENT_LIST_DIR}/language_names.cc
  ${CMAKE_CURRENT_LIST_DIR}/pe_version.cc
  ${CMAKE_CURRENT_LIST_DIR}/reset_last_update.cc
  ${CMAKE_CURRENT_LIST_DIR}/status_report.cc
  ${CMAKE_CURRENT_LIST_DIR}/version_report.cc)

# Language names and UTF-16 conversion of the version reader.
find_package(ICU REQUIRED COMPONENTS uc i18n)
target_link_libraries(mvcore PRIVATE ICU::uc ICU::i18n)
