include(${CMAKE_CURRENT_LIST_DIR}/pe_files.cmake)

mv_test(tools_test tools/tools_test.cc)
add_dependencies(tools_test tools_pe_files)
target_compile_definitions(tools_test PRIVATE MVUPDATE_TEST_PE_DIR="${MV_PE_DIR}")
