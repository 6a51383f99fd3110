target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/clock.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_io.cc
  ${CMAKE_CURRENT_LIST_DIR}/files.cc
  ${CMAKE_CURRENT_LIST_DIR}/language_names.cc
  ${CMAKE_CURRENT_LIST_DIR}/mapped_file.cc
  ${CMAKE_CURRENT_LIST_DIR}/os_info.cc
  ${CMAKE_CURRENT_LIST_DIR}/paths.cc
  ${CMAKE_CURRENT_LIST_DIR}/process.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry.cc
  ${CMAKE_CURRENT_LIST_DIR}/run_lock.cc
  ${CMAKE_CURRENT_LIST_DIR}/settings_store.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256.cc
  ${CMAKE_CURRENT_LIST_DIR}/unicode.cc)

# Language names and UTF-16 conversion.
find_package(ICU REQUIRED COMPONENTS uc i18n)
target_link_libraries(mvcore PRIVATE ICU::uc ICU::i18n)
