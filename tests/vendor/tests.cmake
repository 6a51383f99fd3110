mv_test(vendor_test vendor/vendor_test.cc)
add_dependencies(vendor_test mvupdate-vendor)
target_compile_definitions(vendor_test PRIVATE
  MVUPDATE_VENDOR="$<TARGET_FILE:mvupdate-vendor>")
# The test encrypts a minisign key with libsodium.
target_link_libraries(vendor_test PRIVATE PkgConfig::SODIUM)
