#!/bin/sh
# ProFTPD's mod_exec hook for zantra. In proftpd.conf (or a file in conf.d/), with mod_exec loaded:
#     ExecEngine on
#     ExecLog /var/log/proftpd/exec.log
#     ExecOptions logStdout logStderr
#     ExecTimeout 60
#     ExecOnCommand STOR,APPE,DELE,RNTO /usr/local/share/zantra/site/zantra-proftpd-exec.sh %m %F %w
# (a chrooted site, and why these settings: doc/site.md).
# mod_exec runs it in the FTP session's own process after every successful STOR, APPE, DELE and
# RNTO, as the logged-in user, inside DefaultRoot's chroot when there is one, and sends the
# command's reply only once it has ended. Its arguments:
#   $1  the command (%m): STOR, APPE, DELE or RNTO
#   $2  the file as the session sees it (%F), an absolute path; for RNTO the new name
#   $3  for RNTO the old name as the session sees it (%w), otherwise "-"
# mod_exec passes no environment but what ExecEnviron sets, and ignores the exit status, which
# is 0. %f would give the path outside the chroot, which the hook cannot open inside it.

# The zantra to run, as an absolute path. Empty: zantra on PATH, else the first of
# /usr/local/bin/zantra, /usr/bin/zantra and /bin/zantra (in a chroot: the chroot's own).
ZANTRA=

command=$1
path=$2
from=$3
case $path in /*) ;; *) exit 0 ;; esac

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

# Without zantra nothing can be checked: say so, once, to syslog and on standard error (which
# ExecOptions logStderr puts in the ExecLog).
if ! runnable "$ZANTRA"; then
    message="zantra not found (set ZANTRA= in $0): $command of $path not checked"
    say "$message"
    printf '%s\n' "$message" >&2
    exit 0
fi

# left NAME: NAME is gone from the current directory (deleted, or renamed away). When it was not
# a list, -g -m gives it its marker and lowers the percentage at once.
left() {
    case $1 in *.[Ss][Ff][Vv]) return 0 ;; esac
    release_list || return 0
    "$ZANTRA" -g -m "./$list"
}

# hook: each command runs in the directory of its file, in a subshell. STOR and APPE also come
# from ExecOnError, after a failed or aborted upload: the file left behind is tested as any upload.
hook() {
    case $command in
    STOR | APPE) (cd "${path%/*}/" && arrived "${path##*/}") ;;
    DELE) (cd "${path%/*}/" && left "${path##*/}") ;;
    RNTO)
        (cd "${path%/*}/" && arrived "${path##*/}")
        # Renamed from another directory: that one's books are kept too.
        case $from in
        /*) [ "${from%/*}" = "${path%/*}" ] || (cd "${from%/*}/" && left "${from##*/}") ;;
        esac
        ;;
    esac
}

# zantra's standard error (a book it could not keep) goes to syslog; nothing else is printed.
errors=$(hook 2>&1 >/dev/null </dev/null)
[ -z "$errors" ] || say "$errors"
exit 0
