find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::LIBZIP)  # Windows: cmake/WindowsDependencies.cmake
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
endif()
target_link_libraries(mvcore PRIVATE PkgConfig::LIBZIP)

target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/command_interpreter.cc
  ${CMAKE_CURRENT_LIST_DIR}/control_file.cc
  ${CMAKE_CURRENT_LIST_DIR}/signature.cc
  ${CMAKE_CURRENT_LIST_DIR}/update_detection.cc
  ${CMAKE_CURRENT_LIST_DIR}/wait.cc
  ${CMAKE_CURRENT_LIST_DIR}/zip.cc)
