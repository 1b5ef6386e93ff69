# What the per-target toolchain files share: Debian's cross compilers for ZANTRA_CROSS_TRIPLET,
# with the target's C library and libstdc++ under /usr/<triplet>, and an emulator to run what
# they build (tests and test discovery). Everything the build looks for (libraries, headers,
# packages) is taken from the target's side only; GoogleTest and zlib built or unpacked for the
# target are named to CMake directly (.ci/cross.sh does that).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ZANTRA_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZANTRA_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${ZANTRA_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
