# Shared by both mingw-w64 toolchains; VOLSTEN_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VOLSTEN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOLSTEN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VOLSTEN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VOLSTEN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static runtime: the executables carry libstdc++ and winpthreads and import
# only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
