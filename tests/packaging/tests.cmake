# The manual pages, the configuration file and --help against each other, and
# the links of the README and docs/.
add_test(NAME package_docs_test
  COMMAND /usr/bin/python3 install_test.py -v DocsTest
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(package_docs_test PROPERTIES
  ENVIRONMENT "MVUPDATE_INSTALL_BUILD_DIR=${CMAKE_BINARY_DIR}" TIMEOUT 60)

# The Debian package, built from the tree (about a minute on 2 cores),
# installed into this machine and purged again. Once per CI run: not in the
# sanitized build. It runs alone, so that its build does not slow down the
# tests that time things and its installed files are there for no other.
if(NOT MVUPDATE_SANITIZE)
  add_test(NAME package_test
    COMMAND /usr/bin/python3 install_test.py -v InstallTest
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(package_test PROPERTIES
    ENVIRONMENT "MVUPDATE_INSTALL_BUILD_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 1200 RUN_SERIAL TRUE SKIP_RETURN_CODE 77)
endif()
