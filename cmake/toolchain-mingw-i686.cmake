# Cross-compiling wemb.dll for 32-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-i686). The win32 thread model keeps libwinpthread out of the
# module's imports.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(WEMB_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${WEMB_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${WEMB_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${WEMB_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WEMB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
