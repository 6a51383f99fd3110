mv_test(transport_test
  transport/comm_test.cc
  transport/comm_wait_test.cc
  transport/curl_ftp_component_test.cc)

mv_test(update_run_test transport/update_run_test.cc)
