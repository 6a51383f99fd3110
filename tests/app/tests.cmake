mv_test(app_test app/startup_test.cc)
