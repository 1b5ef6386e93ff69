#!/bin/sh
# pure-ftpd's upload script for zantra. Start pure-ftpd with -o, then
#     pure-uploadscript -B -r /usr/local/sbin/zantra-pure-upload.sh
# pure-uploadscript runs it after every upload, one upload at a time and in their order, with the
# absolute path of the uploaded file as its only argument (names with control characters never
# reach it). The UPLOAD_SIZE, UPLOAD_USER ... variables it sets are not needed here, and it does
# not look at the exit status, which is 0.
path=$1
case $path in /*) ;; *) exit 0 ;; esac
name=${path##*/}
dir=${path%/*}
cd "${dir:-/}" 2>/dev/null || exit 0

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
