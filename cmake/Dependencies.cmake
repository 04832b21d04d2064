# Third-party libraries, as imported targets with one name on both builds:
#   narvo::zlib, narvo::minizip, narvo::crypto and narvo::curl (POSIX only), GTest::gtest_main.
if(WIN32)
  # Link zlib statically: plain -lz would pull in a zlib1.dll dependency.
  add_library(narvo_zlib INTERFACE)
  target_link_libraries(narvo_zlib INTERFACE -l:libz.a)
  add_library(narvo::zlib ALIAS narvo_zlib)

  if(NOT NARVO_MINIZIP_SOURCE_DIR OR NOT EXISTS ${NARVO_MINIZIP_SOURCE_DIR}/unzip.c)
    message(FATAL_ERROR "minizip sources not found (NARVO_MINIZIP_SOURCE_DIR); run scripts/setup")
  endif()
  add_library(narvo_minizip STATIC
    ${NARVO_MINIZIP_SOURCE_DIR}/unzip.c ${NARVO_MINIZIP_SOURCE_DIR}/zip.c
    ${NARVO_MINIZIP_SOURCE_DIR}/ioapi.c ${NARVO_MINIZIP_SOURCE_DIR}/iowin32.c)
  target_include_directories(narvo_minizip SYSTEM PUBLIC ${NARVO_MINIZIP_SOURCE_DIR})
  target_compile_options(narvo_minizip PRIVATE -w)
  target_link_libraries(narvo_minizip PUBLIC narvo::zlib)
  add_library(narvo::minizip ALIAS narvo_minizip)

  if(NARVO_BUILD_TESTS)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
else()
  find_package(ZLIB REQUIRED)
  add_library(narvo::zlib ALIAS ZLIB::ZLIB)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(narvo::minizip ALIAS PkgConfig::MINIZIP)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  add_library(narvo::crypto ALIAS OpenSSL::Crypto)
  # libcurl for HTTP; OpenSSL's TLS library too, to tune certificate checks on curl's context.
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS SSL)
  add_library(narvo_curl INTERFACE)
  target_link_libraries(narvo_curl INTERFACE CURL::libcurl OpenSSL::SSL)
  add_library(narvo::curl ALIAS narvo_curl)
  if(NARVO_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
endif()
