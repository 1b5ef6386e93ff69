#!/bin/sh
# Builds the Debian package from packaging/debian as a packager would (dpkg-buildpackage -us -uc
# -b, which runs the whole test suite in dh_auto_test), fails on any lintian error or warning,
# then installs it, runs the installed /usr/bin/zantra on the sample release, checks that the site
# hooks are installed ready to run and that `man zantra` finds its page, and removes the package
# again.
#
# Usage: .ci/debian-package.sh [build-directory]   (default: build-deb in the tree)
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$top/build-deb"}
mkdir -p "$out"
out=$(cd "$out" && pwd)
started=$(date +%s)
elapsed() { echo "debian-package: $1 after $(($(date +%s) - started)) s"; }

version=$(sed -n 's/^project(zantra VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
arch=$(dpkg --print-architecture)
deb="$out/zantra_${version}_$arch.deb"

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -qq "$@"; }
missing=""
for package in dpkg-dev debhelper lintian man-db; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
        missing="$missing $package"
done
if [ -n "$missing" ]; then
    echo "debian-package: installing$missing"
    apt_get update || echo "debian-package: apt-get update reported errors, going on" >&2
    # shellcheck disable=SC2086 # one word per package
    apt_get install -y $missing >/dev/null
fi

# dpkg-buildpackage wants debian/ at the top of the source tree: a copy of the tree gets one.
source="$out/zantra-$version"
rm -rf "$source" "$out"/zantra_* "$out"/zantra-dbgsym_*
mkdir -p "$source"
tar -C "$top" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$source" -xf -
cp -R "$top/packaging/debian" "$source/debian"
changelog_version=$(cd "$source" && dpkg-parsechangelog -S Version)
[ "$changelog_version" = "$version" ] || {
    echo "debian-package: debian/changelog says $changelog_version, CMakeLists.txt $version" >&2
    exit 1
}
(cd "$source" && dpkg-checkbuilddeps) || apt_get build-dep -y "$source" >/dev/null

# Debian's own flags, with warnings made errors as everywhere in CI.
(cd "$source" && env -u CXXFLAGS DEB_CXXFLAGS_APPEND=-Werror DEB_BUILD_OPTIONS=parallel=2 \
    dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1 ||
    { tail -n 40 "$out/build.log"; echo "debian-package: the build failed; see $out/build.log" >&2; exit 1; }
grep -E '^(100% tests passed|[0-9]+% tests passed)' "$out/build.log"
[ -f "$deb" ] || { echo "debian-package: $deb was not made" >&2; exit 1; }
elapsed "built $(basename "$deb")"

lintian --fail-on error,warning --info "$deb" || {
    echo "debian-package: lintian found errors or warnings in $deb" >&2
    exit 1
}
elapsed "lintian clean"

apt_get install -y --reinstall "$deb" >/dev/null
dpkg -L zantra | grep -qx /usr/bin/zantra || { echo "debian-package: no /usr/bin/zantra" >&2; exit 1; }
for hook in zantra-post-check.sh zantra-pure-upload.sh; do
    if ! [ -x "/usr/share/zantra/site/$hook" ] || ! dpkg -L zantra | grep -qx "/usr/share/zantra/site/$hook"; then
        echo "debian-package: no executable /usr/share/zantra/site/$hook" >&2
        exit 1
    fi
done
sh "$top/examples/sample-release.sh" /usr/bin/zantra >"$out/sample-release.log"
tail -n 1 "$out/sample-release.log"
page=$(man -w zantra)
[ "$page" = /usr/share/man/man1/zantra.1.gz ] ||
    { echo "debian-package: man zantra finds \"$page\"" >&2; exit 1; }
MANWIDTH=80 man zantra 2>/dev/null | grep -q 'glftpd' ||
    { echo "debian-package: man zantra shows no page" >&2; exit 1; }
echo "debian-package: man zantra shows $page"

apt_get remove -y zantra >/dev/null
if [ -e /usr/bin/zantra ] || dpkg-query -W -f='${Status}' zantra 2>/dev/null | grep -q "ok installed"; then
    echo "debian-package: zantra is still installed after its removal" >&2
    exit 1
fi
elapsed "installed, ran the sample release, removed"
