# Shared part of the mingw-w64 toolchain files; they set MIVO_MINGW_TRIPLE
# and CMAKE_SYSTEM_PROCESSOR first.
#
# The posix flavour of the compiler is used because the library guards its
# process-wide loader state with std::mutex, which the win32 thread model of
# GCC 12 does not provide. The C++ runtime and winpthread are linked
# statically, so mivo.dll and the test programs depend only on system DLLs.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_CXX_COMPILER NAMES ${MIVO_MINGW_TRIPLE}-g++-posix ${MIVO_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${MIVO_MINGW_TRIPLE}-gcc-posix ${MIVO_MINGW_TRIPLE}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${MIVO_MINGW_TRIPLE}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${MIVO_MINGW_TRIPLE}-gcc-ar-posix ${MIVO_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${MIVO_MINGW_TRIPLE}-gcc-ranlib-posix ${MIVO_MINGW_TRIPLE}-ranlib)

# Look for headers, libraries and packages only in the target's sysroot and
# in roots the caller adds (-DCMAKE_FIND_ROOT_PATH=<a Windows prefix>, or
# <Pkg>_DIR); programs (code generators, test runners) come from the build
# machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MIVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the linker take libwinpthread's archive instead of its import
# library; the DLL's own exports are unaffected.
set(_mivo_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_mivo_static_runtime}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_mivo_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_mivo_static_runtime}")
