# Third-party libraries, as imported targets with one name on both builds:
#   narvo::zlib, narvo::minizip, narvo::bzip2, narvo::lzma, narvo::crypto and narvo::curl (POSIX
#   only), GTest::gtest_main, and narvo::isal where ISA-L's x86-64 code runs (NARVO_HAVE_ISAL is
#   then ON).
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
  # libbz2 and liblzma statically where the system has the archives: two more shared libraries
  # to load and bind cost every narvo run a few milliseconds, as much as listing 10,000 entries.
  find_package(Threads REQUIRED)
  find_package(BZip2 REQUIRED)
  find_package(LibLZMA REQUIRED)
  find_library(NARVO_BZIP2_STATIC NAMES libbz2.a)
  find_library(NARVO_LZMA_STATIC NAMES liblzma.a)
  if(NARVO_BZIP2_STATIC AND NARVO_LZMA_STATIC)
    add_library(narvo_bzip2 INTERFACE)
    target_include_directories(narvo_bzip2 SYSTEM INTERFACE ${BZIP2_INCLUDE_DIRS})
    target_link_libraries(narvo_bzip2 INTERFACE ${NARVO_BZIP2_STATIC})
    add_library(narvo::bzip2 ALIAS narvo_bzip2)
    add_library(narvo_lzma INTERFACE)
    target_include_directories(narvo_lzma SYSTEM INTERFACE ${LIBLZMA_INCLUDE_DIRS})
    target_link_libraries(narvo_lzma INTERFACE ${NARVO_LZMA_STATIC} Threads::Threads)
    add_library(narvo::lzma ALIAS narvo_lzma)
  else()
    add_library(narvo::bzip2 ALIAS BZip2::BZip2)
    add_library(narvo::lzma ALIAS LibLZMA::LibLZMA)
  endif()
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
# window copies (about 15 % of the inflate time for a large entry). Its reader is compiled through
# archive/minizip/BufferedUnzip.c, which takes header bytes straight out of the engine's read
# window.
if(NOT NARVO_MINIZIP_SOURCE_DIR)
  set(NARVO_MINIZIP_SOURCE_DIR ${CMAKE_SOURCE_DIR}/build/deps/zlib-src/contrib/minizip)
endif()
if(NOT EXISTS ${NARVO_MINIZIP_SOURCE_DIR}/unzip.c)
  message(FATAL_ERROR "minizip sources not found (NARVO_MINIZIP_SOURCE_DIR); run scripts/setup")
endif()
set(minizip_sources ${CMAKE_SOURCE_DIR}/archive/minizip/BufferedUnzip.c ${NARVO_MINIZIP_SOURCE_DIR}/zip.c
                    ${NARVO_MINIZIP_SOURCE_DIR}/ioapi.c)
if(WIN32)
  list(APPEND minizip_sources ${NARVO_MINIZIP_SOURCE_DIR}/iowin32.c)
endif()
add_library(narvo_minizip STATIC ${minizip_sources})
target_include_directories(narvo_minizip SYSTEM PUBLIC ${NARVO_MINIZIP_SOURCE_DIR}
                          ${CMAKE_SOURCE_DIR}/archive/minizip)
target_compile_definitions(narvo_minizip PRIVATE UNZ_BUFSIZE=65536)
# GCC inlines the one-byte readers into the directory parser only when allowed larger functions.
target_compile_options(narvo_minizip PRIVATE -w
                       $<$<C_COMPILER_ID:GNU>:--param=max-inline-insns-auto=100>)
target_link_libraries(narvo_minizip PUBLIC narvo::zlib)
add_library(narvo::minizip ALIAS narvo_minizip)

# ISA-L inflates deflate data and computes the ZIP CRC-32 several times faster than zlib, with
# x86-64 assembly. Natively it comes from libisal-dev; the 64-bit Windows build links the static
# library scripts/setup builds from Debian's source package. The 32-bit build keeps zlib.
set(NARVO_HAVE_ISAL OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  if(WIN32)
    if(NOT NARVO_ISAL_DIR)
      set(NARVO_ISAL_DIR ${CMAKE_SOURCE_DIR}/build/deps/isal-win64)
    endif()
    if(NOT EXISTS ${NARVO_ISAL_DIR}/lib/libisal.a)
      message(FATAL_ERROR "ISA-L for mingw not found (NARVO_ISAL_DIR); run scripts/setup")
    endif()
    add_library(narvo_isal STATIC IMPORTED)
    set_target_properties(narvo_isal PROPERTIES IMPORTED_LOCATION ${NARVO_ISAL_DIR}/lib/libisal.a)
    target_include_directories(narvo_isal SYSTEM INTERFACE ${NARVO_ISAL_DIR}/include)
  else()
    find_path(NARVO_ISAL_INCLUDE_DIR isa-l/igzip_lib.h REQUIRED)
    find_library(NARVO_ISAL_LIBRARY isal REQUIRED)
    add_library(narvo_isal UNKNOWN IMPORTED)
    set_target_properties(narvo_isal PROPERTIES IMPORTED_LOCATION ${NARVO_ISAL_LIBRARY})
    target_include_directories(narvo_isal SYSTEM INTERFACE ${NARVO_ISAL_INCLUDE_DIR})
  endif()
  target_compile_definitions(narvo_isal INTERFACE NARVO_HAVE_ISAL=1)
  add_library(narvo::isal ALIAS narvo_isal)
  set(NARVO_HAVE_ISAL ON)
endif()
