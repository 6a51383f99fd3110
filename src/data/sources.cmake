target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/column_values.cc
  ${CMAKE_CURRENT_LIST_DIR}/customer_record.cc
  ${CMAKE_CURRENT_LIST_DIR}/odbc.cc)

# unixODBC: the driver manager that loads the driver named in the
# connection string.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::ODBC)  # Windows: cmake/WindowsDependencies.cmake
  pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)
endif()
target_link_libraries(mvcore PUBLIC PkgConfig::ODBC)
