# Faults and secrets over the real FTP and database servers, with the
# console program run as a child process.
mv_test(fault_test faults/fault_test.cc faults/env_faults_test.cc)
add_dependencies(fault_test mvupdate-cli)
target_compile_definitions(fault_test PRIVATE
  MVUPDATE_CLI="$<TARGET_FILE:mvupdate-cli>")
