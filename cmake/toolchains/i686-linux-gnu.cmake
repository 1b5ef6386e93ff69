# 32-bit x86 (i686), built with g++-i686-linux-gnu. An x86-64 Linux kernel with 32-bit support
# runs the programs natively, started through the cross toolchain's own loader and libraries;
# elsewhere CI names qemu-i386 as the emulator on the command line instead.
set(ZANTRA_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/i686-linux-gnu/lib/ld-linux.so.2 --library-path /usr/i686-linux-gnu/lib)
endif()
