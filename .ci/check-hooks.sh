#!/bin/sh
# The hook scripts of examples/site/ each stand alone (they run inside glftpd's and ProFTPD's
# chroots), so the part they share is written out in each: the lines from the "begin shared
# block" comment to the "end shared block" one must be the same, byte for byte, in all of them.
#   sh .ci/check-hooks.sh   (from anywhere; .ci/lint.sh runs it)
set -eu
cd "$(dirname "$0")/.."
shared() { sed -n '/^# ---- begin shared block/,/^# ---- end shared block/p' "$1"; }
first="" status=0
for hook in examples/site/*.sh; do
    sum=$(shared "$hook" | cksum)
    if [ -z "$(shared "$hook")" ]; then
        echo "check-hooks: $hook has no shared block" >&2
        status=1
    elif [ -z "$first" ]; then
        first=$hook first_sum=$sum
    elif [ "$sum" != "$first_sum" ]; then
        echo "check-hooks: the shared block of $hook differs from that of $first" >&2
        status=1
    fi
done
[ "$status" -ne 0 ] || echo "check-hooks: the hooks' shared blocks are the same"
exit "$status"
