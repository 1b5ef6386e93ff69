# 64-bit ARM (aarch64), built with g++-aarch64-linux-gnu and run under qemu-user, whose default
# CPU has the ARMv8 CRC32 instructions. The static qemu is used: a dynamically linked one would
# itself take the LD_PRELOAD meant for the program (the fault library) and complain on standard
# error.
set(ZANTRA_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
