mv_test(app_test
  app/run_log_test.cc
  app/startup_test.cc)
