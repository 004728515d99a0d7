# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the posix flavour, which has std::thread).
# Used by `make windows`; the programs it builds run under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TESSARIN_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TESSARIN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARIN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARIN_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSARIN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest (and gtest's test listing) start the .exe files through Wine
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
