#!/bin/sh
# glftpd's post_check script for zantra. With this file and zantra in the chroot's bin/, put
#     post_check /bin/zantra-post-check.sh *
# into glftpd.conf. glftpd runs it inside its chroot after every upload, with three arguments:
#   $1  the name of the uploaded file             checked: not empty, no "/"
#   $2  the directory it was uploaded to          checked: an absolute path it can enter
#   $3  the file's CRC (000000 without calc_crc)  not used: zantra reads the file itself
# Assumed: $1 names an entry of $2. glftpd takes a non-zero exit status for a verdict on the
# upload (1 and 127 for a script that could not run, the file then kept). This script always ends
# with 0: zantra's verdict is the .bad name a damaged upload gets, which the site's users see and
# can replace.

# The zantra to run, as an absolute path inside the chroot. Empty: zantra on PATH, else the first
# of /usr/local/bin/zantra, /usr/bin/zantra and /bin/zantra (the chroot's bin/).
ZANTRA=

name=$1
dir=$2
case $name in "" | */*) exit 0 ;; esac
case $dir in /*) ;; *) exit 0 ;; esac

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
    message="zantra not found (set ZANTRA= in $0): $dir/$name not checked"
    if command -v logger >/dev/null 2>&1; then logger -t zantra "$message" 2>/dev/null; fi
    printf '%s\n' "$message" >&2
    exit 0
fi
cd "$dir" 2>/dev/null || exit 0

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
