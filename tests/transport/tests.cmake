mv_test(transport_test transport/ftp_session_test.cc)

mv_test(update_run_test transport/update_run_test.cc)
add_dependencies(update_run_test mvupdate-vendor)
target_compile_definitions(update_run_test PRIVATE
  MVUPDATE_VENDOR="$<TARGET_FILE:mvupdate-vendor>")
