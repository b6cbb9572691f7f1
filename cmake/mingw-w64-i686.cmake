# Cross-compiling for 32-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-i686). Builds only: 32-bit Windows programs cannot run under
# this machine's 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MIVO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
