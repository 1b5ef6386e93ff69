#!/bin/sh
# Makes a small sample release in a temporary directory and walks zantra through it:
# create a list, verify it, then break the release and let glftpd mode mark what is wrong.
# Usage: sh examples/sample-release.sh path/to/zantra
set -eu

zantra=$(cd "$(dirname "${1:?usage: $0 path/to/zantra}")" && pwd)/$(basename "$1")
release=$(mktemp -d "${TMPDIR:-/tmp}/zantra-sample.XXXXXX")
trap 'rm -rf "$release"' EXIT
cd "$release"

# Five archive volumes of 256 KiB each and an .nfo, with contents that differ per volume.
make_volume() {
    awk -v seed="$1" 'BEGIN { for (i = 0; i < 8192; i++) printf "%s line %08d of the sample\n", seed, i }' \
        | head -c 262144 > "sample.$1"
}
for volume in rar r00 r01 r02 r03; do
    make_volume "$volume"
done
printf 'Sample release, made by examples/sample-release.sh\n' > sample.nfo

step() { printf '\n==> %s\n' "$*"; }
expect() {
    want=$1; shift
    set +e; "$@"; got=$?; set -e
    if [ "$got" -ne "$want" ]; then
        printf 'sample-release: "%s" ended with status %s, expected %s\n' "$*" "$got" "$want" >&2
        exit 1
    fi
}

step "zantra -c sample.sfv sample.*   (only archive volumes are listed by default)"
expect 0 "$zantra" -c sample.sfv sample.*
cat sample.sfv

step "zantra -T sample.sfv   (the whole release is intact: status 0)"
expect 0 "$zantra" -T sample.sfv

step "Damage sample.r01 and remove sample.r03, then: zantra -g -T sample.sfv   (status 2)"
echo "(the damaged volume is moved to .bad; both get a .missing marker until tested good)"
printf 'X' | dd of=sample.r01 bs=1 seek=1000 conv=notrunc 2>/dev/null
rm sample.r03
expect 2 "$zantra" -g -T sample.sfv
ls -l

step "A good sample.r01 is uploaded again, then: zantra -g -t sample.sfv sample.r01   (status 0)"
echo "(tested good: its marker and the .bad copy go), then: zantra -g -m sample.sfv"
make_volume r01
expect 0 "$zantra" -g -t sample.sfv sample.r01
expect 0 "$zantra" -g -m sample.sfv
ls

step "zantra -m sample.sfv   (counts only, reads nothing: status 0)"
expect 0 "$zantra" -m sample.sfv

printf '\nThe sample release behaved as expected.\n'
