#!/bin/sh
# glftpd's post_check script for zantra. With this file and zantra in the chroot's bin/, put
#     post_check /bin/zantra-post-check.sh *
# into glftpd.conf. glftpd runs it inside its chroot after every upload, with three arguments:
#   $1  the name of the uploaded file             checked: not empty, no "/"
#   $2  the directory it was uploaded to          checked: an absolute path it can enter
#   $3  the file's CRC (000000 without calc_crc)  not used: zantra reads the file itself
# Assumed: $1 names an entry of $2, and zantra is found through PATH (sh's default holds /bin).
# glftpd takes a non-zero exit status for a verdict on the upload (1 and 127 for a script that
# could not run, the file then kept). This script always ends with 0: zantra's verdict is the
# .bad name a damaged upload gets, which the site's users see and can replace.
name=$1
dir=$2
case $name in "" | */*) exit 0 ;; esac
case $dir in /*) ;; *) exit 0 ;; esac
cd "$dir" 2>/dev/null || exit 0

# For each list of the release: test the upload (a bad one becomes NAME.bad), then refresh the
# .missing markers and the completion directory. An upload that is itself a list is only counted.
# The list is named ./LIST, so that a name beginning with "-" is not taken for an option; every
# word after it is a file name to zantra. No output of zantra reaches the server.
for list in *.[Ss][Ff][Vv]; do
    [ -f "$list" ] || continue
    case $name in
    *.[Ss][Ff][Vv]) ;;
    *) zantra -g -t "./$list" "$name" ;;
    esac
    zantra -g -m "./$list"
done </dev/null >/dev/null 2>&1
exit 0
