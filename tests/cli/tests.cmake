mv_test(cli_test cli/cli_test.cc)
add_dependencies(cli_test mvupdate-cli tools_pe_files)
target_link_libraries(cli_test PRIVATE mvconsole)
target_compile_definitions(cli_test PRIVATE
  MVUPDATE_CLI="$<TARGET_FILE:mvupdate-cli>"
  MVUPDATE_TEST_PE_DIR="${MV_PE_DIR}")
