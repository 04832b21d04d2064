set(CMAKE_C_COMPILER ${NARVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NARVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NARVO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NARVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: the binaries import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Tests of both builds run under Wine, in one WoW64 prefix: wine64 starts 32-bit programs too.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
