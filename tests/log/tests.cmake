mv_test(log_test log/event_log_test.cc)
