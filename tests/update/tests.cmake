mv_test(update_test update/update_test.cc)
target_link_libraries(update_test PRIVATE PkgConfig::LIBZIP)
