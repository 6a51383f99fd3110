# libsodium, libcurl (Schannel) and libzip as static libraries from the
# folder scripts/windows-deps fills (MVUPDATE_WINDOWS_DEPS), ODBC from the
# system (odbc32), under the target names the Linux build gets from
# pkg-config and find_package, so that the rest of the build is the same.
if(NOT MVUPDATE_WINDOWS_DEPS OR NOT EXISTS ${MVUPDATE_WINDOWS_DEPS}/lib)
  message(FATAL_ERROR "MVUPDATE_WINDOWS_DEPS must name the folder that "
                      "scripts/windows-deps printed")
endif()
set(deps ${MVUPDATE_WINDOWS_DEPS})

add_library(PkgConfig::SODIUM INTERFACE IMPORTED GLOBAL)
target_include_directories(PkgConfig::SODIUM INTERFACE ${deps}/include)
target_compile_definitions(PkgConfig::SODIUM INTERFACE SODIUM_STATIC)
target_link_libraries(PkgConfig::SODIUM INTERFACE ${deps}/lib/libsodium.a)

add_library(CURL::libcurl INTERFACE IMPORTED GLOBAL)
target_include_directories(CURL::libcurl INTERFACE ${deps}/include)
target_compile_definitions(CURL::libcurl INTERFACE CURL_STATICLIB)
target_link_libraries(CURL::libcurl INTERFACE ${deps}/lib/libcurl.a z ws2_32
  crypt32 bcrypt secur32 advapi32 iphlpapi)

add_library(PkgConfig::LIBZIP INTERFACE IMPORTED GLOBAL)
target_include_directories(PkgConfig::LIBZIP INTERFACE ${deps}/include)
target_link_libraries(PkgConfig::LIBZIP INTERFACE ${deps}/lib/libzip.a z
  bcrypt advapi32)

add_library(PkgConfig::ODBC INTERFACE IMPORTED GLOBAL)
target_link_libraries(PkgConfig::ODBC INTERFACE odbc32)

# One file to copy: the C and C++ run-times and winpthreads linked in.
add_link_options(-static)
