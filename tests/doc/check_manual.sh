#!/bin/sh
# Checks the manual page: mandoc finds nothing to say about it, and every option that the
# usage text lists has an entry of its own in the manual.
# Usage: sh check_manual.sh path/to/mandoc path/to/zantra.1 path/to/zantra [strict]
#
# Without "strict", cross-references to manuals that are not installed on this machine (cksfv(1)
# on a system without cksfv) are not held against the page. Notes about the machine's manual
# database are never about the page and are always left out.
set -eu

mandoc=$1
page=$2
zantra=$3
strict=${4:-}
failed=0

status=0
messages=$("$mandoc" -Tlint "$page" 2>&1) || status=$?
messages=$(printf '%s\n' "$messages" | grep -v -e 'mandoc\.db' -e '^$' || true)
if [ -z "$strict" ]; then
    messages=$(printf '%s\n' "$messages" | grep -v 'referenced manual not found' || true)
fi
if [ -n "$messages" ] || [ "$status" -ge 3 ]; then
    printf 'check_manual: mandoc -Tlint ended with status %s:\n%s\n' "$status" "$messages" >&2
    failed=1
fi

# The usage text names each option as "-x :" or "-x <argument> :"; zantra prints it, with
# status 1, when it is run without arguments.
options=$("$zantra" 2>/dev/null | sed -n 's/^[^-]* -\([A-Za-z]\) [:<].*$/\1/p' || true)
if [ -z "$options" ]; then
    printf 'check_manual: no options found in the usage text of %s\n' "$zantra" >&2
    failed=1
fi
for letter in $options v; do
    if ! grep -Eq "^\.It Fl $letter( |\$)" "$page"; then
        printf 'check_manual: option -%s has no entry in %s\n' "$letter" "$page" >&2
        failed=1
    fi
done

if [ "$failed" -ne 0 ]; then
    exit 1
fi
# shellcheck disable=SC2086 # one letter a word
printf 'check_manual: %s is clean and describes -%s\n' "$page" "$(printf '%s' $options v | tr -d ' ')"
