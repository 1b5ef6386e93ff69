#!/bin/sh
# Cross-builds zantra (library, program, unit and black-box tests) for another architecture
# with Debian's cross compilers and the toolchain file cmake/toolchains/<triplet>.cmake, runs
# the tests there, and fails unless every one passes and the target ran every test the x86-64
# build registers (the CRC-32 variants of other architectures aside), none skipped.
#
#   i686     32-bit: 64-bit file offsets and times; unit, black-box, load and large-input
#            tests (the 5 GiB sparse file), run natively through the cross loader; on a
#            kernel without 32-bit support, the unit tests alone, under qemu-i386
#   s390x    big-endian: unit and black-box tests under qemu
#   aarch64  the ARMv8 CRC32 folds (each must run) and the black-box tests under qemu
#
# GoogleTest is built for the target from /usr/src/googletest, and the target's zlib (for the
# tests) is unpacked from Debian's zlib1g-dev for that architecture. Tests that run the program
# from host shell scripts (interop.*, manual.*, install.*) are left out: they test the peers and
# the host's tools, not the target.
#
# Usage: .ci/cross.sh i686|s390x|aarch64 [build-directory] [x86-64-build-directory]
#        (defaults: build-<target> and build-tests in the tree; the latter must be built)
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?"usage: $0 i686|s390x|aarch64 [build-directory] [x86-64-build-directory]"}
case $target in
i686)
    triplet=i686-linux-gnu arch=i386 multiarch=i386-linux-gnu emulator=""
    # The test harness runs the program through this, with argv[0] "zantra".
    wrapper="/usr/$triplet/lib/ld-linux.so.2 --library-path /usr/$triplet/lib --argv0 zantra @BINARY@"
    leave_out_labels="" ;;
s390x | aarch64)
    triplet=$target-linux-gnu multiarch=$target-linux-gnu emulator=qemu-$target-static
    arch=$target
    [ "$target" = aarch64 ] && arch=arm64
    wrapper="$emulator -L /usr/$triplet -0 zantra @BINARY@"
    leave_out_labels="load|large" ;;
*)
    echo "cross: unknown target $target (i686, s390x or aarch64)" >&2
    exit 2 ;;
esac
out=${2:-"$top/build-$target"}
reference=${3:-"$top/build-tests"}
[ -f "$reference/CTestTestfile.cmake" ] ||
    { echo "cross: $reference holds no x86-64 test build to compare with" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
started=$(date +%s)
elapsed() { echo "cross-$target: $1 after $(($(date +%s) - started)) s"; }

# The cross compiler, qemu, GoogleTest's sources; the target's zlib needs its architecture.
missing=""
command -v "$triplet-g++" >/dev/null 2>&1 || missing="$missing g++-$triplet"
[ -z "$emulator" ] || command -v "$emulator" >/dev/null 2>&1 || missing="$missing qemu-user-static"
[ -f /usr/src/googletest/CMakeLists.txt ] || missing="$missing googletest"
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -qq "$@"; }
# A mirror caught mid-sync fails one index or another; what is needed may still be there.
apt_update() { apt_get update || echo "cross-$target: apt-get update reported errors, going on" >&2; }
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
    apt_update
elif [ -n "$missing" ]; then
    apt_update
fi
if [ -n "$missing" ]; then
    echo "cross-$target: installing$missing"
    # shellcheck disable=SC2086 # one word per package
    apt_get install -y $missing >/dev/null
fi
# A kernel built without 32-bit support cannot start i686 programs. qemu-i386 can, but Debian
# 12's (7.2) hangs in the child of every fork() of a dynamically linked i386 program, and the
# black-box harness forks for each run: there only the unit tests run, under qemu-i386.
only_label=""
emulator_setting=""
if [ "$target" = i686 ] && ! "/usr/$triplet/lib/ld-linux.so.2" --version >/dev/null 2>&1; then
    emulator=qemu-i386-static only_label=unit leave_out_labels=""
    emulator_setting="-DCMAKE_CROSSCOMPILING_EMULATOR=$emulator;-L;/usr/$triplet"
    command -v "$emulator" >/dev/null 2>&1 || { apt_update && apt_get install -y qemu-user-static >/dev/null; }
    echo "cross-i686: this kernel cannot run 32-bit programs: only the unit tests run, under $emulator"
fi
generator=""
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
toolchain="$top/cmake/toolchains/$triplet.cmake"
sysroot="$out/target" # GoogleTest and zlib for the target

if [ ! -f "$sysroot/usr/lib/$multiarch/libz.a" ]; then
    echo "cross-$target: unpacking zlib1g-dev:$arch"
    rm -rf "$out/debs" && mkdir -p "$out/debs"
    (cd "$out/debs" && apt-get -o DPkg::Lock::Timeout=600 -qq download "zlib1g-dev:$arch")
    dpkg -x "$out/debs"/zlib1g-dev_*.deb "$sysroot"
fi
if [ ! -f "$sysroot/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "cross-$target: building GoogleTest"
    # With its own flags: CI's CXXFLAGS (-Werror) are for zantra's code.
    # shellcheck disable=SC2086 # the generator is two words or none
    env -u CXXFLAGS cmake -S /usr/src/googletest -B "$out/googletest" $generator -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$sysroot" >/dev/null
    cmake --build "$out/googletest" -j2 >/dev/null
    cmake --install "$out/googletest" >/dev/null
fi
elapsed "GoogleTest and zlib ready"

# shellcheck disable=SC2086
cmake -S "$top" -B "$out/zantra" $generator -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZANTRA_WERROR=ON \
    -DGTest_DIR="$sysroot/lib/cmake/GTest" -DZLIB_INCLUDE_DIR="$sysroot/usr/include" \
    -DZLIB_LIBRARY="$sysroot/usr/lib/$multiarch/libz.a" ${emulator_setting:+"$emulator_setting"}
cmake --build "$out/zantra" -j2
elapsed "built"

host_tools='^(interop|manual|install|site)\.'
log="$out/ctest.log"
status=0
ZANTRA_TEST_WRAPPER=$wrapper ctest --test-dir "$out/zantra" --output-on-failure -j2 \
    -E "$host_tools" ${leave_out_labels:+-LE "$leave_out_labels"} ${only_label:+-L "$only_label"} >"$log" 2>&1 || status=$?
tail -n 15 "$log"
elapsed "tested"
[ "$status" -eq 0 ] || { echo "cross-$target: tests failed (status $status); see $log" >&2; exit 1; }
if grep -q '(Skipped)' "$log"; then
    echo "cross-$target: tests were skipped; see $log" >&2
    exit 1
fi

# Every test the x86-64 build has must have run here too, and the other way round, but for the
# CRC-32 variants compiled for one architecture only.
names() {
    # shellcheck disable=SC2086
    ctest --test-dir "$1" -N -E "$host_tools" ${leave_out_labels:+-LE "$leave_out_labels"} ${only_label:+-L "$only_label"} |
        sed -n 's/^ *Test *#[0-9]*: //p' | grep -v '^AllCompiled/' | sort
}
names "$reference" >"$out/tests.x86_64"
names "$out/zantra" >"$out/tests.$target"
if ! cmp -s "$out/tests.x86_64" "$out/tests.$target"; then
    echo "cross-$target: the tests registered differ from the x86-64 build's:" >&2
    diff "$out/tests.x86_64" "$out/tests.$target" >&2 || true
    exit 1
fi
echo "cross-$target: $(wc -l <"$out/tests.$target") tests as on x86-64, and the variants, all passed"

if [ "$target" = aarch64 ]; then
    for variant in armv8_crc32 armv8_crc32_3way; do
        grep -q "AllCompiled/Crc32Variants\.AgreesWithReferenceInTwoPieces/$variant .*Passed" "$log" ||
            { echo "cross-aarch64: the $variant variant did not run" >&2; exit 1; }
    done
    # clang takes other builtins and target names for the CRC instructions: compile that file too.
    if command -v clang++ >/dev/null 2>&1; then
        clang++ --target="$triplet" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wshadow -Wconversion \
            -Wsign-conversion -Wold-style-cast -Wformat=2 -Wmissing-declarations -Werror \
            -I"$top/src" -c "$top/src/checksum/crc32_arm.cpp" -o "$out/crc32_arm.clang.o"
        echo "cross-aarch64: the ARM fold compiles with clang++ too"
    fi
    echo "cross-aarch64: every ARM variant ran and agreed with the reference"
fi
elapsed "done"
