# Cross-builds the Windows x86-64 program with Debian's mingw-w64 (packages
# g++-mingw-w64-x86-64-posix and mingw-w64-tools). The posix flavour of the
# compiler carries the C++ threading support that GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NCREWRITE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NCREWRITE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NCREWRITE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NCREWRITE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NCREWRITE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under Wine, each in the prefix of this build.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine/run.sh)
