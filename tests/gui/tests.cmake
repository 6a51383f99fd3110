# The Qt window and the program itself, on the offscreen platform.
if(NOT TARGET mvgui)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(gui_window_test gui/main_window_test.cc)
set_target_properties(gui_window_test PROPERTIES AUTOMOC ON)
target_link_libraries(gui_window_test PRIVATE mvgui mvtestsupport Qt6::Test)
add_dependencies(gui_window_test mvupdate)
target_compile_definitions(gui_window_test PRIVATE MVUPDATE_GUI="$<TARGET_FILE:mvupdate>")
add_test(NAME gui_window_test COMMAND gui_window_test)
set_tests_properties(gui_window_test PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;MVUPDATE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}"
  TIMEOUT 120)

# The seam's table shared with the Win32 window (tests/win32).
mv_test(gui_window_contract_test gui/window_contract_test.cc)
target_link_libraries(gui_window_contract_test PRIVATE mvgui Qt6::Test)
