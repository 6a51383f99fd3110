if(NOT TARGET CURL::libcurl)  # Windows: cmake/WindowsDependencies.cmake
  find_package(CURL REQUIRED)
endif()
target_link_libraries(mvcore PRIVATE CURL::libcurl)

target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ftp_session.cc
  ${CMAKE_CURRENT_LIST_DIR}/control_file_fetch.cc
  ${CMAKE_CURRENT_LIST_DIR}/curl_failures.cc
  ${CMAKE_CURRENT_LIST_DIR}/curl_ftp_component.cc
  ${CMAKE_CURRENT_LIST_DIR}/ftp_component.cc
  ${CMAKE_CURRENT_LIST_DIR}/partial_download.cc
  ${CMAKE_CURRENT_LIST_DIR}/site_address.cc
  ${CMAKE_CURRENT_LIST_DIR}/update_run.cc)
