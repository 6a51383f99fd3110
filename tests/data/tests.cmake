mv_test(data_test data/customer_record_test.cc)
