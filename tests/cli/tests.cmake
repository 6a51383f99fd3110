mv_test(cli_test cli/cli_test.cc)
add_dependencies(cli_test mvupdate-cli)
target_compile_definitions(cli_test PRIVATE
  MVUPDATE_CLI="$<TARGET_FILE:mvupdate-cli>")
