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
runnable() {
    case $1 in /*) [ -f "$1" ] && [ -x "$1" ] ;; *) false ;; esac
}
if [ -z "$ZANTRA" ]; then
    for ZANTRA in "$(command -v zantra)" /usr/local/bin/zantra /usr/bin/zantra /bin/zantra; do
        runnable "$ZANTRA" && break
    done
fi
# ---- end shared block ----
# Without zantra nothing can be checked: say so, once, to syslog and on standard error (which
# ExecOptions logStderr puts in the ExecLog).
if ! runnable "$ZANTRA"; then
    message="zantra not found (set ZANTRA= in $0): $command of $path not checked"
    if command -v logger >/dev/null 2>&1; then logger -t zantra "$message" 2>/dev/null; fi
    printf '%s\n' "$message" >&2
    exit 0
fi

# The release's books are kept by its first list in name order (byte order) and by no other.
LC_ALL=C

# Sets list to the first list of the current directory in name order; fails when there is none.
first_list() {
    for list in *.[Ss][Ff][Vv]; do
        [ -f "$list" ] && return 0
    done
    return 1
}

# arrived NAME: NAME, in the current directory, has just been uploaded or renamed to. A list is
# tested whole with -g -T (which also tests the volumes that came before it); any other file is
# tested with -g -t (a bad one becomes NAME.bad and gets its NAME.missing), then -g -m refreshes
# the markers and the completion directory. The list is named ./LIST, so that a name beginning
# with "-" is not taken for an option; every word after it is a file name to zantra.
arrived() {
    [ -f "$1" ] || return 0
    first_list || return 0
    case $1 in
    *.[Ss][Ff][Vv]) "$ZANTRA" -g -T "./$list" ;;
    *)
        "$ZANTRA" -g -t "./$list" "$1"
        "$ZANTRA" -g -m "./$list"
        ;;
    esac
}

# left NAME: NAME is gone from the current directory (deleted, or renamed away). When it was not
# the list itself, -g -m gives it its marker and lowers the percentage at once.
left() {
    case $1 in *.[Ss][Ff][Vv]) return 0 ;; esac
    first_list || return 0
    "$ZANTRA" -g -m "./$list"
}

# Each runs in the directory of its file, in a subshell; no output of zantra reaches the session.
{
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
} </dev/null >/dev/null 2>&1
exit 0
