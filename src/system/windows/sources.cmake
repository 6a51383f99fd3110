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
  ${CMAKE_CURRENT_LIST_DIR}/unicode.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32.cc)
# The Unicode (W) functions are called by name; <windows.h> without the
# rarely used parts and without min/max macros.
target_compile_definitions(mvcore PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(mvcore PUBLIC advapi32 shell32 ole32)
