#!/bin/sh
# Installs a build into a staging directory through DESTDIR, checks that it puts down exactly the
# files of the FreeBSD port's packing list, the manual page and the site hooks unchanged (the hooks
# with mode 0755), and runs the installed program: its version line, then a list created and
# verified.
# Usage: sh check_install.sh path/to/cmake build-directory source-directory
set -eu

cmake=$1
build=$2
source=$3
prefix=/usr/local
plist=$source/packaging/freebsd/pkg-plist

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zantra-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
stage=$scratch/stage
mkdir "$stage"
fail() {
    printf 'check_install: %s\n' "$*" >&2
    exit 1
}

DESTDIR=$stage "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    fail "cmake --install failed: $(cat "$scratch/install.log")"

# Everything under the staging directory, relative to the prefix, against the packing list,
# in which the ports framework's compression of manual pages shows as ".gz".
(cd "$stage" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$scratch/installed"
grep -v '^@' "$plist" | sed -e "s|^|${prefix#/}/|" -e 's|^\(.*/share/man/.*\)\.gz$|\1|' |
    LC_ALL=C sort >"$scratch/expected"
if ! cmp -s "$scratch/expected" "$scratch/installed"; then
    printf 'check_install: installed files differ from %s (- expected, + installed):\n' "$plist" >&2
    diff -u "$scratch/expected" "$scratch/installed" >&2 || true
    exit 1
fi

zantra=$stage$prefix/bin/zantra
[ -x "$zantra" ] || fail "$zantra is not executable"
cmp -s "$source/doc/zantra.1" "$stage$prefix/share/man/man1/zantra.1" ||
    fail "the installed manual page differs from doc/zantra.1"
for hook in zantra-post-check.sh zantra-pure-upload.sh zantra-proftpd-exec.sh; do
    installed=$stage$prefix/share/zantra/site/$hook
    cmp -s "$source/examples/site/$hook" "$installed" || fail "$installed differs from examples/site/$hook"
    mode=$(stat -c %a "$installed" 2>/dev/null || stat -f %Lp "$installed")
    [ "$mode" = 755 ] || fail "$installed has mode $mode, not 755"
done

version=$("$zantra" -v) || fail "zantra -v ended with status $?"
# shellcheck disable=SC2016 # the "$Revision" is the text zantra prints
[ "$version" = 'ZANTRA for UNiX, $Revision: 1.18 $' ] || fail "zantra -v printed: $version"

release=$scratch/release
mkdir "$release"
cd "$release"
printf 'first volume\n' >rel.rar
printf 'second volume\n' >rel.r00
"$zantra" -c rel.sfv rel.rar rel.r00 >"$scratch/create.out" 2>&1 ||
    fail "zantra -c ended with status $?: $(cat "$scratch/create.out")"
grep -q '^rel\.r00 313760DC' rel.sfv || fail "rel.sfv lacks the entry of rel.r00: $(cat rel.sfv)"
"$zantra" -T rel.sfv >"$scratch/verify.out" 2>&1 ||
    fail "zantra -T ended with status $?: $(cat "$scratch/verify.out")"
grep -q '^2 file(s) tested - 2 OK - 0 bad - 0 missing \.\.\.$' "$scratch/verify.out" ||
    fail "zantra -T did not find both files OK: $(cat "$scratch/verify.out")"

printf 'check_install: staged install matches %s and runs\n' "$plist"
