# cmake --install of this build into a staging folder.
add_test(NAME install_test
  COMMAND /usr/bin/python3 -m unittest -v install_test
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set(mv_gui OFF)
if(TARGET mvgui)
  set(mv_gui ON)
endif()
set_tests_properties(install_test PROPERTIES
  ENVIRONMENT "MVUPDATE_INSTALL_BUILD_DIR=${CMAKE_BINARY_DIR};MVUPDATE_INSTALL_GUI=${mv_gui}"
  TIMEOUT 120)
