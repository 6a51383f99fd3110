# Qt Test programs for the window, run on the offscreen platform.
if(NOT TARGET mvgui)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Test)

# mv_qt_test(name sources...): one Qt Test program, one ctest test.
function(mv_qt_test name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE mvgui Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
endfunction()

mv_qt_test(gui_window_test gui/main_window_test.cc)
mv_qt_test(gui_screenshot_test gui/screenshot_test.cc)
add_dependencies(gui_screenshot_test mvupdate)
target_compile_definitions(gui_screenshot_test PRIVATE
  MVUPDATE_GUI="$<TARGET_FILE:mvupdate>")
