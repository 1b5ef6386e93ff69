# 64-bit big-endian IBM Z (s390x), built with g++-s390x-linux-gnu and run under qemu-user. The
# static qemu is used: a dynamically linked one would itself take the LD_PRELOAD meant for the
# program (the fault library) and complain on standard error.
set(ZANTRA_CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x-static -L /usr/s390x-linux-gnu)
