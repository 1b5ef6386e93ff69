#!/bin/sh
# Cross-builds the CRC-32 unit tests for aarch64 and runs them under qemu, so that the ARMv8
# CRC32 folds are checked against the byte-wise reference on an x86-64 machine. GoogleTest is
# compiled from its sources, as no aarch64 build of it is packaged. Fails unless every ARM
# variant actually ran (none skipped).
#
# Usage: .ci/cross-aarch64.sh [build-directory]   (default: build-aarch64 in the tree)
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$top/build-aarch64"}
cxx=aarch64-linux-gnu-g++
gtest=/usr/src/googletest/googletest

missing=""
command -v "$cxx" >/dev/null 2>&1 || missing="$missing g++-aarch64-linux-gnu"
command -v qemu-aarch64 >/dev/null 2>&1 || missing="$missing qemu-user"
[ -f "$gtest/src/gtest-all.cc" ] || missing="$missing googletest"
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update -qq
    # shellcheck disable=SC2086 # one word per package
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi

mkdir -p "$out"
warnings="-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
          -Wformat=2 -Wmissing-declarations -Werror"

# GoogleTest once per build directory: it is the slow part and never changes here.
if [ ! -f "$out/gtest-all.o" ] || [ ! -f "$out/gtest_main.o" ]; then
    echo "Building GoogleTest for aarch64"
    $cxx -std=c++20 -O1 -pthread -I"$gtest/include" -I"$gtest" \
        -c "$gtest/src/gtest-all.cc" -o "$out/gtest-all.o" &
    $cxx -std=c++20 -O1 -pthread -I"$gtest/include" -I"$gtest" \
        -c "$gtest/src/gtest_main.cc" -o "$out/gtest_main.o"
    wait $!
fi

echo "Building the CRC-32 tests for aarch64"
objects=""
for source in src/checksum/crc32.cpp src/checksum/crc32_arm.cpp src/checksum/crc32_x86.cpp \
              tests/unit/crc32_variants_test.cpp; do
    object="$out/$(basename "$source" .cpp).o"
    # shellcheck disable=SC2086 # the flags are words
    $cxx -std=c++20 -O2 $warnings -I"$top/src" -isystem "$gtest/include" \
        -c "$top/$source" -o "$object"
    objects="$objects $object"
done
# shellcheck disable=SC2086
$cxx -pthread -o "$out/crc32_tests" $objects "$out/gtest_main.o" "$out/gtest-all.o"

# clang takes other builtins and target names for the CRC instructions: compile that file too.
if command -v clang++ >/dev/null 2>&1; then
    echo "Compiling the aarch64 fold with clang++ as well"
    # shellcheck disable=SC2086
    clang++ --target=aarch64-linux-gnu -std=c++20 -O2 $warnings -I"$top/src" \
        -c "$top/src/checksum/crc32_arm.cpp" -o "$out/crc32_arm.clang.o"
fi

echo "Running under qemu-aarch64"
log="$out/crc32_tests.log"
status=0
qemu-aarch64 -L /usr/aarch64-linux-gnu "$out/crc32_tests" >"$log" 2>&1 || status=$?
grep -E '^CRC-32 variant supported|^\[  (PASSED|FAILED|SKIPPED) |FAILED|SKIPPED' "$log" || true
if [ "$status" -ne 0 ]; then
    echo "cross-aarch64: the tests failed under qemu (status $status); see $log" >&2
    exit 1
fi
for variant in armv8_crc32 armv8_crc32_3way; do
    if ! grep -q "^\[       OK \] AllCompiled/Crc32Variants\.AgreesWithReferenceInTwoPieces/$variant " "$log"; then
        echo "cross-aarch64: the $variant variant did not run" >&2
        exit 1
    fi
done
echo "cross-aarch64: every ARM variant ran and agreed with the reference"
