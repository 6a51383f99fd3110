# Faults and secrets over the real FTP and database servers, with the
# console program run as a child process.
mv_test(fault_test faults/fault_test.cc)
mv_test(secrets_test faults/secrets_test.cc)
foreach(t fault_test secrets_test)
  add_dependencies(${t} mvupdate-cli)
  target_compile_definitions(${t} PRIVATE
    MVUPDATE_CLI="$<TARGET_FILE:mvupdate-cli>")
  target_link_libraries(${t} PRIVATE PkgConfig::LIBZIP)
endforeach()
