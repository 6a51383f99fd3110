mv_test(log_test log/log_test.cc)
