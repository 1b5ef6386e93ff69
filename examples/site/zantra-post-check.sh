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
# runnable PATH: PATH is absolute and names an executable file.
runnable() {
    case $1 in /*) [ -f "$1" ] && [ -x "$1" ] ;; *) false ;; esac
}
if [ -z "$ZANTRA" ]; then
    for ZANTRA in "$(command -v zantra)" /usr/local/bin/zantra /usr/bin/zantra /bin/zantra; do
        runnable "$ZANTRA" && break
    done
fi

# say TEXT: TEXT goes to syslog, a line at a time, tagged zantra, when logger is there.
say() {
    if command -v logger >/dev/null 2>&1; then
        printf '%s\n' "$1" | logger -t zantra >/dev/null 2>&1
    fi
}

# The release's books are kept by its list: the *.sfv of the directory that arrived first, by
# status change time (which no FTP command sets; a rename does), the first in byte order among
# equals. A later list keeps no books and changes nothing.
LC_ALL=C

# release_list: sets list to the release's list in the current directory; fails when there is none.
release_list() {
    list=
    for candidate in *.[Ss][Ff][Vv]; do
        [ -f "$candidate" ] || continue
        if [ -z "$list" ] || older "$candidate" "$list"; then list=$candidate; fi
    done
    [ -n "$list" ]
}

# older A B: A's status change time is earlier than B's. ls -ct lists the newer first and breaks
# ties by name; "./A" sorts before "$PWD/B" whatever the names, so a tie lists A first, and only
# a B strictly newer lists B first. GNU, BSD and busybox ls all sort so (busybox to the second).
older() {
    [ "$(ls -ctd -- "$PWD/$2" "./$1" 2>/dev/null)" = "$PWD/$2
./$1" ]
}

# started: the release has a completion directory, so its books were started.
started() {
    for directory in \[[0-9][0-9][0-9]%\]-\[-all.files.CRC.ok-\]; do
        [ -d "$directory" ] && return 0
    done
    return 1
}

# arrived NAME: NAME, in the current directory, has just been uploaded (or renamed to). The
# release's list is tested whole with -g -T, which also tests the volumes that came before it
# (another list: nothing). Any other file is tested with -g -t (a bad one becomes NAME.bad and
# gets its NAME.missing), then -g -m refreshes the markers and the completion directory; when the
# books were never started, -g -T tests every file instead. The list is named ./LIST, so that a
# name beginning with "-" is not taken for an option; every word after it is a file name to zantra.
arrived() {
    [ -f "$1" ] || return 0
    release_list || return 0
    case $1 in
    "$list") "$ZANTRA" -g -T "./$list" ;;
    *.[Ss][Ff][Vv]) ;;
    *)
        if started; then
            "$ZANTRA" -g -t "./$list" "$1"
            "$ZANTRA" -g -m "./$list"
        else
            "$ZANTRA" -g -T "./$list"
        fi
        ;;
    esac
}
# ---- end shared block ----

# Without zantra nothing can be checked: say so, once, to syslog and on standard error.
if ! runnable "$ZANTRA"; then
    message="zantra not found (set ZANTRA= in $0): $dir/$name not checked"
    say "$message"
    printf '%s\n' "$message" >&2
    exit 0
fi
cd "$dir" 2>/dev/null || exit 0

# zantra's standard error (a book it could not keep) goes to syslog; nothing else is printed.
errors=$(arrived "$name" 2>&1 >/dev/null </dev/null)
[ -z "$errors" ] || say "$errors"
exit 0
