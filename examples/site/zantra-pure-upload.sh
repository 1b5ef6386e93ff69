#!/bin/sh
# pure-ftpd's upload script for zantra. Start pure-ftpd with -o, then
#     pure-uploadscript -B -r /usr/local/share/zantra/site/zantra-pure-upload.sh
# (on Debian: UPLOADSCRIPT= in /etc/default/pure-ftpd-common; see doc/site.md).
# pure-uploadscript runs it after every upload, one upload at a time and in their order, with the
# absolute path of the uploaded file as its only argument (names with control characters never
# reach it). The UPLOAD_SIZE, UPLOAD_USER ... variables it sets are not needed here, and it does
# not look at the exit status, which is 0.

# The zantra to run, as an absolute path. Empty: zantra on PATH, else the first of
# /usr/local/bin/zantra, /usr/bin/zantra and /bin/zantra (Debian starts pure-uploadscript with
# PATH=/sbin:/bin:/usr/sbin:/usr/bin, which leaves out /usr/local/bin).
ZANTRA=

path=$1
case $path in /*) ;; *) exit 0 ;; esac
name=${path##*/}
dir=${path%/*}

# ---- begin shared block: the same in every hook (.ci/check-hooks.sh) ----
runnable() {
    case $1 in /*) [ -f "$1" ] && [ -x "$1" ] ;; *) false ;; esac
}
if [ -z "$ZANTRA" ]; then
    for ZANTRA in "$(command -v zantra)" /usr/local/bin/zantra /usr/bin/zantra /bin/zantra; do
        runnable "$ZANTRA" && break
    done
fi
# ---- end shared block ----
# Without zantra nothing can be checked: say so, once, to syslog and on standard error.
if ! runnable "$ZANTRA"; then
    message="zantra not found (set ZANTRA= in $0): $path not checked"
    if command -v logger >/dev/null 2>&1; then logger -t zantra "$message" 2>/dev/null; fi
    printf '%s\n' "$message" >&2
    exit 0
fi
cd "${dir:-/}" 2>/dev/null || exit 0

# The release's books are kept by its first list in name order (byte order) and by no other.
LC_ALL=C
list=
for candidate in *.[Ss][Ff][Vv]; do
    if [ -f "$candidate" ]; then
        list=$candidate
        break
    fi
done
[ -n "$list" ] || exit 0

# A list: -g -T tests every volume that came before it (a damaged one becomes NAME.bad) and keeps
# the .missing markers and the completion directory. Any other upload: -g -t tests it, then -g -m,
# which reads no file, refreshes the markers and the completion directory.
# The list is named ./LIST, so that a name beginning with "-" is not taken for an option; every
# word after it is a file name to zantra. No output of zantra reaches the server.
{
    case $name in
    *.[Ss][Ff][Vv]) "$ZANTRA" -g -T "./$list" ;;
    *)
        "$ZANTRA" -g -t "./$list" "$name"
        "$ZANTRA" -g -m "./$list"
        ;;
    esac
} </dev/null >/dev/null 2>&1
exit 0
