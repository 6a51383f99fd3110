mv_test(transport_test transport/ftp_session_test.cc)

mv_test(update_run_test transport/update_run_test.cc)
