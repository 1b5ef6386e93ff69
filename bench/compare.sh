#!/usr/bin/env bash
# Times zantra against cat (the read limit), cksfv and rhash on a release-like directory: whole
# processes, interleaved round by round, median of the rounds. Builds nothing itself.
#
# Usage: bench/compare.sh [-s MiB] [-n volumes] [-r rounds] [-c] ZANTRA [LABEL=ZANTRA ...]
#   -s  total size of the release in MiB (default 2048)
#   -n  number of volumes (default 50)
#   -r  rounds (default 5)
#   -c  cold cache: drop the page cache before every command (needs root and Linux);
#       by default the cache is warmed once and every run reads from memory
#   ZANTRA            the zantra binary to time
#   LABEL=ZANTRA      further zantra builds to time alongside, shown as "zantra LABEL"
#
# zantra is run both as "zantra -T list.sfv" (test the whole list) and "zantra -c x.sfv rel.r*"
# (create a list, which reads every volume too), and "-T" again with two readers ("-j 2") and one
# per processor ("-j 0"). A command whose first run fails is reported
# and left out of the table, so the script works before every mode of zantra is written.
set -euo pipefail
export LC_ALL=C

size_mib=2048
volumes=50
rounds=5
cold=0
while getopts "s:n:r:c" option; do
    case $option in
    s) size_mib=$OPTARG ;;
    n) volumes=$OPTARG ;;
    r) rounds=$OPTARG ;;
    c) cold=1 ;;
    *) sed -n '5,12p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -lt 1 ]; then
    sed -n '5,12p' "$0" >&2
    exit 2
fi
for tool in cksfv rhash; do
    command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (apt-get install $tool)" >&2; exit 2; }
done

absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
builds=("$(absolute "$1")")
labels=("zantra")
shift
for extra in "$@"; do
    labels+=("zantra ${extra%%=*}")
    builds+=("$(absolute "${extra#*=}")")
done

work=$(mktemp -d /tmp/zantra-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making $volumes volumes, $size_mib MiB in all, in $work"
volume_kib=$((size_mib * 1024 / volumes))
for ((i = 0; i < volumes; i++)); do
    head -c $((volume_kib * 1024)) /dev/urandom >"$(printf 'rel.r%02d' "$i")"
done
rhash --sfv rel.r* >list.sfv 2>/dev/null
# Written back now rather than in the middle of the timed runs.
sync

# Each command as one shell line, run inside the release directory, output discarded.
names=("cat (read limit)")
commands=("cat rel.r* >/dev/null")
for ((b = 0; b < ${#builds[@]}; b++)); do
    names+=("${labels[b]} -T" "${labels[b]} -c" "${labels[b]} -j 2 -T" "${labels[b]} -j 0 -T")
    commands+=("'${builds[b]}' -T list.sfv" "'${builds[b]}' -c x.sfv rel.r*"
        "'${builds[b]}' -j 2 -T list.sfv" "'${builds[b]}' -j 0 -T list.sfv")
done
names+=("cksfv -f" "rhash -c")
commands+=("cksfv -q -f list.sfv" "rhash -c list.sfv")

drop_cache() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}

# Seconds taken by one command, or nothing when it failed.
time_once() {
    [ "$cold" -eq 1 ] && drop_cache
    local start end
    start=$EPOCHREALTIME
    if ! bash -c "$1" >/dev/null 2>&1; then
        return 1
    fi
    end=$EPOCHREALTIME
    awk -v end="$end" -v start="$start" 'BEGIN { printf "%.4f", end - start }'
}

if [ "$cold" -eq 1 ]; then
    drop_cache || { echo "compare.sh: cannot drop the page cache (-c needs root on Linux)" >&2; exit 2; }
else
    cat rel.r* >/dev/null
    cat rel.r* >/dev/null
fi

# A command that fails on its first run (a mode not yet written, say) is left out.
declare -a usable times
for ((c = 0; c < ${#commands[@]}; c++)); do
    status=0
    bash -c "${commands[c]}" >/dev/null 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
        usable[c]=1
    else
        usable[c]=0
        echo "left out: ${names[c]} (exit status $status)"
    fi
    times[c]=""
done

for ((round = 1; round <= rounds; round++)); do
    for ((c = 0; c < ${#commands[@]}; c++)); do
        [ "${usable[c]}" -eq 1 ] || continue
        times[c]="${times[c]} $(time_once "${commands[c]}")"
    done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo
echo "$size_mib MiB in $volumes volumes, $rounds rounds, $([ "$cold" -eq 1 ] && echo cold || echo warm) page cache"
printf '%-24s %10s %10s %10s\n' "tool" "median s" "x cat" "MB/s"
cat_median=$(echo "${times[0]}" | median)
bytes=$((volume_kib * 1024 * volumes))
for ((c = 0; c < ${#commands[@]}; c++)); do
    [ "${usable[c]}" -eq 1 ] || continue
    m=$(echo "${times[c]}" | median)
    awk -v name="${names[c]}" -v m="$m" -v cat="$cat_median" -v bytes="$bytes" \
        'BEGIN { printf "%-24s %10.3f %10.2f %10.0f\n", name, m, m / cat, bytes / m / 1e6 }'
done
