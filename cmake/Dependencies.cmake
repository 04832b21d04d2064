# Third-party libraries, as imported targets with one name on both builds:
#   narvo::zlib, narvo::minizip, narvo::bzip2, narvo::lzma, narvo::crypto and narvo::curl (POSIX only), GTest::gtest_main.
if(WIN32)
  # Link zlib statically: plain -lz would pull in a zlib1.dll dependency.
  add_library(narvo_zlib INTERFACE)
  target_link_libraries(narvo_zlib INTERFACE -l:libz.a)
  add_library(narvo::zlib ALIAS narvo_zlib)

  # libbz2 and liblzma: no package ships them for mingw; scripts/setup builds both from Debian's
  # source packages, static, into build/deps/mingw/TRIPLE.
  set(NARVO_MINGW_DEPS ${CMAKE_SOURCE_DIR}/build/deps/mingw/${NARVO_MINGW_TRIPLE})
  if(NOT EXISTS ${NARVO_MINGW_DEPS}/lib/libbz2.a OR NOT EXISTS ${NARVO_MINGW_DEPS}/lib/liblzma.a)
    message(FATAL_ERROR "libbz2/liblzma for ${NARVO_MINGW_TRIPLE} not found; run scripts/setup")
  endif()
  add_library(narvo_bzip2 INTERFACE)
  target_include_directories(narvo_bzip2 SYSTEM INTERFACE ${NARVO_MINGW_DEPS}/include)
  target_link_libraries(narvo_bzip2 INTERFACE ${NARVO_MINGW_DEPS}/lib/libbz2.a)
  add_library(narvo::bzip2 ALIAS narvo_bzip2)
  add_library(narvo_lzma INTERFACE)
  target_include_directories(narvo_lzma SYSTEM INTERFACE ${NARVO_MINGW_DEPS}/include)
  target_compile_definitions(narvo_lzma INTERFACE LZMA_API_STATIC)
  target_link_libraries(narvo_lzma INTERFACE ${NARVO_MINGW_DEPS}/lib/liblzma.a)
  add_library(narvo::lzma ALIAS narvo_lzma)

  if(NARVO_BUILD_TESTS)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
else()
  find_package(ZLIB REQUIRED)
  add_library(narvo::zlib ALIAS ZLIB::ZLIB)
  find_package(BZip2 REQUIRED)
  add_library(narvo::bzip2 ALIAS BZip2::BZip2)
  find_package(LibLZMA REQUIRED)
  add_library(narvo::lzma ALIAS LibLZMA::LibLZMA)
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

# minizip, built from Debian's zlib sources (scripts/setup fetches them) on both builds, so that
# both run the same reader. Its one setting: entry data are inflated from 64 KiB of compressed
# input at a time instead of 16 KiB, which spares zlib a quarter of its calls' overhead and
# window copies (about 15 % of the inflate time for a large entry).
if(NOT NARVO_MINIZIP_SOURCE_DIR)
  set(NARVO_MINIZIP_SOURCE_DIR ${CMAKE_SOURCE_DIR}/build/deps/zlib-src/contrib/minizip)
endif()
if(NOT EXISTS ${NARVO_MINIZIP_SOURCE_DIR}/unzip.c)
  message(FATAL_ERROR "minizip sources not found (NARVO_MINIZIP_SOURCE_DIR); run scripts/setup")
endif()
set(minizip_sources ${NARVO_MINIZIP_SOURCE_DIR}/unzip.c ${NARVO_MINIZIP_SOURCE_DIR}/zip.c
                    ${NARVO_MINIZIP_SOURCE_DIR}/ioapi.c)
if(WIN32)
  list(APPEND minizip_sources ${NARVO_MINIZIP_SOURCE_DIR}/iowin32.c)
endif()
add_library(narvo_minizip STATIC ${minizip_sources})
target_include_directories(narvo_minizip SYSTEM PUBLIC ${NARVO_MINIZIP_SOURCE_DIR})
target_compile_definitions(narvo_minizip PRIVATE UNZ_BUFSIZE=65536)
target_compile_options(narvo_minizip PRIVATE -w)
target_link_libraries(narvo_minizip PUBLIC narvo::zlib)
add_library(narvo::minizip ALIAS narvo_minizip)
