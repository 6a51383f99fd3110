find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::SODIUM)  # Windows: cmake/WindowsDependencies.cmake
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)
endif()
find_package(Threads REQUIRED)
target_link_libraries(mvcore PUBLIC PkgConfig::SODIUM Threads::Threads)
# SHA-256 from libcrypto's EVP interface (BCrypt on Windows): sha256.cc in
# system/posix/ and system/windows/.
if(WIN32)
  target_link_libraries(mvcore PUBLIC bcrypt)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  target_link_libraries(mvcore PUBLIC OpenSSL::Crypto)
endif()

target_sources(mvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/config.cc
  ${CMAKE_CURRENT_LIST_DIR}/crypto.cc
  ${CMAKE_CURRENT_LIST_DIR}/date_time.cc
  ${CMAKE_CURRENT_LIST_DIR}/deployment.cc
  ${CMAKE_CURRENT_LIST_DIR}/display_text.cc
  ${CMAKE_CURRENT_LIST_DIR}/env.cc
  ${CMAKE_CURRENT_LIST_DIR}/failure.cc
  ${CMAKE_CURRENT_LIST_DIR}/files.cc
  ${CMAKE_CURRENT_LIST_DIR}/last_update.cc
  ${CMAKE_CURRENT_LIST_DIR}/os_info.cc
  ${CMAKE_CURRENT_LIST_DIR}/paths.cc
  ${CMAKE_CURRENT_LIST_DIR}/process.cc
  ${CMAKE_CURRENT_LIST_DIR}/progress.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry_queries.cc
  ${CMAKE_CURRENT_LIST_DIR}/settings_store.cc
  ${CMAKE_CURRENT_LIST_DIR}/text.cc
  ${CMAKE_CURRENT_LIST_DIR}/text_file.cc)

# One implementation of each platform concern, chosen by the build:
# system/posix/ or system/windows/. Nothing outside system/ includes them.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/sources.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/posix/sources.cmake)
endif()
