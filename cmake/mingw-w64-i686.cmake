# Cross-compiles for 32-bit Windows with the win32-thread mingw-w64 toolchain.
# Its runtime needs no threading library: the posix-thread one links in
# winpthread, which imports functions Windows XP lacks (GetTickCount64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVRELO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRELO_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TAVRELO_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TAVRELO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRELO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
