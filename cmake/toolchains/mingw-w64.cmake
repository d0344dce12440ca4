# Cross-building for Windows with Debian's MinGW-w64, included by the per-target
# toolchain files, which set FWTALLY_MINGW_TARGET and FWTALLY_WINE_LOADER first. The -posix compilers
# carry the threads that GoogleTest's std::mutex needs; the default ones do not.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${FWTALLY_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FWTALLY_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${FWTALLY_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FWTALLY_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained .exe files: no MinGW runtime DLLs to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine: the tests, and the sample image generator;
# all through wine-session, which gives them one persistent server.
find_program(FWTALLY_WINE NAMES ${FWTALLY_WINE_LOADER} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(FWTALLY_WINE)
  set(FWTALLY_WINE_SESSION ${CMAKE_CURRENT_LIST_DIR}/../wine-session)
  set(FWTALLY_WINE_RUN ${FWTALLY_WINE_SESSION} run ${FWTALLY_WINE})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FWTALLY_WINE_RUN})
endif()
