#!/bin/sh
# The site parts of CI, as root on Debian 12:
#   .ci/site.sh install       before the README's test command: what the site tests need (pure-ftpd,
#                             pure-pw, openssl, python3, busybox-static, and ProFTPD unpacked into
#                             /opt/zantra-ci/proftpd), so that the command registers them;
#   .ci/site.sh check BUILD   after it: the four site tests were registered in BUILD and the three
#                             that take its zantra ran; then the static build for chroots: no dynamic
#                             dependencies, runs alone in an empty chroot, passes the black-box suite
#                             and all four site tests, the one in ProFTPD's chroot among them.
set -eu
cd "$(dirname "$0")/.."

# Debian's proftpd-core and pure-ftpd conflict (both provide ftp-server), and installing the one
# removes the other: proftpd-core's libraries are installed, and the package itself is unpacked
# into a directory of its own, from which the site tests run it with its modules beside it.
proftpd=/opt/zantra-ci/proftpd

install_tools() {
    export DEBIAN_FRONTEND=noninteractive
    apt-cache show proftpd-core >/dev/null 2>&1 || apt-get -o DPkg::Lock::Timeout=600 update -qq
    libraries=$(apt-cache depends proftpd-core | sed -n 's/^ *Depends: \(lib[^ <]*\|zlib1g\)$/\1/p')
    missing=""
    for package in pure-ftpd openssl python3 busybox-static $libraries; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
    done
    if [ -n "$missing" ]; then
        apt-get -o DPkg::Lock::Timeout=600 update -qq
        # shellcheck disable=SC2086 # one word per package
        apt-get -o DPkg::Lock::Timeout=600 install -y -qq $missing
    fi
    download=$(mktemp -d "${TMPDIR:-/tmp}/zantra-proftpd.XXXXXX")
    (cd "$download" && apt-get -o APT::Sandbox::User=root -qq download proftpd-core)
    rm -rf "$proftpd"
    mkdir -p "$proftpd"
    dpkg-deb -x "$download"/proftpd-core_*.deb "$proftpd"
    rm -rf "$download"
    if ldd "$proftpd/usr/sbin/proftpd" "$proftpd/usr/lib/proftpd/mod_exec.so" | grep 'not found'; then
        echo "CI: the unpacked proftpd lacks libraries" >&2
        exit 1
    fi
    for program in /usr/sbin/pure-ftpd /usr/sbin/pure-uploadscript pure-pw openssl python3 busybox \
        "$proftpd/usr/sbin/proftpd" "$proftpd/usr/sbin/ftpasswd"; do
        command -v "$program" >/dev/null || { echo "CI: $program is missing" >&2; exit 1; }
    done
}

# site_tests BUILD LOG COUNT: runs the site tests of BUILD verbosely into LOG; COUNT of them must
# report that every check passed (a skipped test prints no such line: site.proftpd-chroot skips
# unless zantra is static).
site_tests() {
    status=0
    ctest --test-dir "$1" -L site --output-on-failure -V >"$2" 2>&1 || status=$?
    grep -E 'site [a-z-]+: [0-9]+ checks|skipped|FAIL|tests passed' "$2" | sed 's/^[0-9]*: //'
    passed=$(grep -cE 'site [a-z-]+: [0-9]+ checks, 0 failed$' "$2" || true)
    # shellcheck disable=SC2015 # the message is for any test failing
    [ "$status" -eq 0 ] && [ "$passed" -eq "$3" ] ||
        { echo "CI: $passed site tests of $1 ran and passed, expected $3 (see $2)" >&2; exit 1; }
}

check() {
    build=$1
    registered=$(ctest --test-dir "$build" -N -L site | grep -c 'Test *#' || true)
    [ "$registered" -eq 4 ] || { echo "CI: $registered site tests registered in $build, expected 4" >&2; exit 1; }
    site_tests "$build" "$build/site-tests.log" 3

    cmake -S . -B build-static -DZANTRA_BUILD_TESTS=OFF -DZANTRA_STATIC=ON -DZANTRA_WERROR=ON
    cmake --build build-static -j2
    static=$(pwd)/build-static/src/zantra
    if readelf -d "$static" | grep -q NEEDED || readelf -l "$static" | grep -q 'program interpreter'; then
        echo "CI: $static is not statically linked:" >&2
        readelf -d "$static" >&2
        exit 1
    fi

    # Alone in an empty chroot, as in glftpd's: the one file is all it needs, glftpd mode included.
    jail=$(mktemp -d "${TMPDIR:-/tmp}/zantra-chroot.XXXXXX")
    trap 'rm -rf "$jail"' EXIT
    mkdir "$jail/bin"
    cp "$static" "$jail/bin/zantra"
    printf 'first volume\n' >"$jail/rel.r00"
    printf 'second volume\n' >"$jail/rel.r01"
    chroot "$jail" /bin/zantra -c rel.sfv rel.r00 rel.r01 >/dev/null
    rm "$jail/rel.r01"
    status=0
    chroot "$jail" /bin/zantra -g -T rel.sfv >/dev/null || status=$?
    # shellcheck disable=SC2015 # the message is for any test failing
    [ "$status" -eq 2 ] && [ -f "$jail/rel.r01.missing" ] && [ -d "$jail/[050%]-[-all.files.CRC.ok-]" ] ||
        { echo "CI: the static zantra did not keep the glftpd bookkeeping in a chroot" >&2; exit 1; }

    # The cases that preload the fault library (ReadFault, Race) are left out: nothing interposes
    # in a static binary.
    ZANTRA_TEST_BINARY=$static ctest --test-dir "$build" --output-on-failure -j2 -R '^Cases/' -E '^Cases/(ReadFault|Race)$'
    export ZANTRA_TEST_BINARY="$static"
    site_tests "$build" "$build/site-tests-static.log" 4
    unset ZANTRA_TEST_BINARY
}

case ${1:-} in
install) install_tools ;;
check) check "${2:?usage: .ci/site.sh check BUILD}" ;;
*)
    echo "usage: .ci/site.sh install | check BUILD" >&2
    exit 2
    ;;
esac
