# Cross-build for Windows with the posix-thread mingw-w64 compilers (the
# win32-thread variant has no std::mutex). Included by the per-architecture
# toolchain files, which set VELK_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
