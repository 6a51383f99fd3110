mv_test(data_test
  data/column_values_test.cc
  data/customer_record_test.cc
  data/odbc_test.cc
  data/startup_db_test.cc)
add_dependencies(data_test mvupdate-cli)
target_compile_definitions(data_test PRIVATE
  MVUPDATE_CLI="$<TARGET_FILE:mvupdate-cli>")
