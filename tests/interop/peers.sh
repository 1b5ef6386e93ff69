#!/bin/sh
# Interoperability with other SFV tools. One part of the matrix per run:
#   zantra-lists    lists written by zantra -c (plain, -w, -d, -l, all of them with -a) verify
#                   clean with cksfv and RHash, and both catch a damaged or absent volume;
#   peer-lists      lists written by RHash and by cksfv verify clean with zantra -T, -t and -m,
#                   and zantra reports a damaged or absent volume with the right verdict words
#                   and statuses, glftpd markers included;
#   foreign-styles  lists made here in the styles other tools write (CR LF, lower-case digits,
#                   a UTF-8 byte-order mark, their comment headers) verify clean with zantra and
#                   RHash, and zantra catches a damaged volume in each;
#   trees           lists of a two-disc tree (CD1, CD2, Subs) written by RHash -r and cksfv, and
#                   RHash's with Windows separators, verify with zantra -T and -m at the tree's
#                   top; zantra -c of the tree's volumes verifies with zantra -T, RHash and cksfv.
# Every mismatch is printed with the output of the command that showed it, and fails the run.
# Usage: sh peers.sh part path/to/zantra path/to/cksfv path/to/rhash
set -eu

# The programs are run from inside the release, so relative paths are made absolute.
absolute() {
    case $1 in
    /*) printf '%s' "$1" ;;
    */*) printf '%s/%s' "$(pwd)" "$1" ;;
    *) printf '%s' "$1" ;;
    esac
}
part=$1
zantra=$(absolute "$2")
cksfv=$(absolute "$3")
rhash=$(absolute "$4")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zantra-interop.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
out=$scratch/out
err=$scratch/err
checks=0
failures=0
cell=
last=

# The release: archive volumes of several sizes (one over the 1 MiB that zantra reads at a time,
# one empty, one named in capitals) and a file that is not a volume.
VOLUMES="rel.rar rel.r00 rel.r01 rel.r02 rel.r03 Rel.R04"
UTF8_NAME=$(printf 'Caf\303\251.r06') # "Café.r06" in UTF-8
VOLUME_COUNT=6
volume() {
    awk -v seed="$1" -v lines="$2" 'BEGIN { for (i = 0; i < lines; i++) printf "%s %07d\n", seed, i }' >"$3"
}
mkdir "$scratch/pristine"
volume rar 100000 "$scratch/pristine/rel.rar"
volume r00 20000 "$scratch/pristine/rel.r00"
volume r01 5000 "$scratch/pristine/rel.r01"
volume r02 1 "$scratch/pristine/rel.r02"
: >"$scratch/pristine/rel.r03"
volume R04 300 "$scratch/pristine/Rel.R04"
printf 'Release notes\n' >"$scratch/pristine/rel.nfo"

# Starts a cell of the matrix in a fresh copy of the release.
start() {
    cell=$1
    cd "$scratch"
    rm -rf work
    cp -R pristine work
    cd work
}

failure() {
    failures=$((failures + 1))
    printf 'FAIL [%s] %s\n  after: %s\n  standard output:\n' "$cell" "$1" "$last"
    sed 's/^/  | /' "$out"
    printf '  standard error:\n'
    sed 's/^/  | /' "$err"
}

# run STATUS command...: runs the command with its standard output in $out and its standard
# error in $err, and checks its exit status.
run() {
    want=$1
    shift
    last=$*
    checks=$((checks + 1))
    status=0
    "$@" >"$out" 2>"$err" || status=$?
    [ "$status" -eq "$want" ] || failure "exit status $status, expected $want"
}

# run_merged STATUS command...: the same, with the standard error in $out too, in the order
# written. cksfv writes its verdict lines to one stream and its reasons to the other.
run_merged() {
    want=$1
    shift
    last=$*
    checks=$((checks + 1))
    status=0
    "$@" >"$out" 2>&1 || status=$?
    : >"$err"
    [ "$status" -eq "$want" ] || failure "exit status $status, expected $want"
}

# has REGEX: some line of the last standard output matches the extended regular expression.
has() {
    checks=$((checks + 1))
    grep -Eq -e "$1" "$out" || failure "no line of standard output matches /$1/"
}

# has_error REGEX: the same for the last standard error.
has_error() {
    checks=$((checks + 1))
    grep -Eq -e "$1" "$err" || failure "no line of standard error matches /$1/"
}

# lines REGEX N: exactly N lines of the last standard output match.
lines() {
    checks=$((checks + 1))
    got=$(grep -Ec -e "$1" "$out" || true)
    [ "$got" -eq "$2" ] || failure "$got lines match /$1/, expected $2"
}

# exists PATH / absent PATH: the file system after the last command.
exists() {
    checks=$((checks + 1))
    [ -e "$1" ] || failure "$1 does not exist"
}
absent() {
    checks=$((checks + 1))
    [ ! -e "$1" ] || failure "$1 exists"
}

damage() {
    printf 'X' | dd of="$1" bs=1 seek=1000 conv=notrunc 2>/dev/null
}

# A file name as an extended regular expression that matches it alone.
quoted() {
    printf '%s' "$1" | sed 's/[].[^$*+?(){}|\\]/\\&/g'
}

# The verdict line a peer prints for a good file: the name, blanks, then OK.
peer_ok() {
    printf '^%s +OK *$' "$(quoted "$1")"
}

# peers_verdicts bad-file-or-"" good-file...: checks the verdict lines of the last output of
# cksfv or RHash, which name each file and end in OK for a good one.
peers_verdicts() {
    bad=$1
    shift
    for name in "$@"; do
        if [ "$name" = "$bad" ]; then
            has "^$(quoted "$name") "
            lines "$(peer_ok "$name")" 0
        else
            lines "$(peer_ok "$name")" 1
        fi
    done
}

# peers_verify list bad-file-or-"" listed-file...: cksfv and RHash verify the list, which is
# good when no bad file is given.
peers_verify() {
    list=$1
    bad=$2
    shift 2
    if [ -z "$bad" ]; then
        run_merged 0 "$cksfv" -f "$list"
        has 'Everything OK'
    else
        run_merged 1 "$cksfv" -f "$list"
    fi
    peers_verdicts "$bad" "$@"
    if [ -z "$bad" ]; then
        run 0 "$rhash" -c "$list"
        has 'Everything OK'
    else
        run 1 "$rhash" -c "$list"
    fi
    peers_verdicts "$bad" "$@"
}

zantra_lists() {
    printf 'Our release\r\n\n#1 in its class\n %s\n' "$(awk 'BEGIN { for (i = 0; i < 300; i++) printf "=" }')" \
        >"$scratch/pristine/banner.txt"
    for flags in "" "-w" "-d" "-l banner.txt" "-w -d -a -l banner.txt"; do
        listed=$VOLUMES
        case $flags in *-a*) listed="$VOLUMES rel.nfo" ;; esac
        start "zantra -c $flags"
        # shellcheck disable=SC2086
        run 0 "$zantra" -c $flags list.sfv $VOLUMES rel.nfo
        # shellcheck disable=SC2086
        lines '^Adding file: .* CRC = 0x[0-9A-F]{8}$' "$(set -- $listed && echo $#)"
        # shellcheck disable=SC2086
        peers_verify list.sfv "" $listed

        cell="zantra -c $flags, rel.r01 damaged"
        damage rel.r01
        # shellcheck disable=SC2086
        peers_verify list.sfv rel.r01 $listed

        cell="zantra -c $flags, rel.r02 absent"
        cp ../pristine/rel.r01 rel.r01
        rm rel.r02
        # shellcheck disable=SC2086
        peers_verify list.sfv rel.r02 $listed
    done

    start "zantra -c, names with blanks and with letters outside ASCII"
    cp rel.r00 "My Rel.r05"
    cp rel.r01 "$UTF8_NAME"
    run 0 "$zantra" -c list.sfv "My Rel.r05" "$UTF8_NAME" rel.r02
    peers_verify list.sfv "" "My Rel.r05" "$UTF8_NAME" rel.r02
}

# zantra's three ways of verifying a list that is good.
zantra_accepts() {
    run 0 "$zantra" -T "$1"
    lines '^Testing .* \.\.\. listed = 0x[0-9A-F]{8} \.\.\. local = 0x[0-9A-F]{8} \.\.\. OK$' "$VOLUME_COUNT"
    has "^$VOLUME_COUNT file\\(s\\) tested - $VOLUME_COUNT OK - 0 bad - 0 missing \\.\\.\\.\$"
    # shellcheck disable=SC2086
    run 0 "$zantra" -t "$1" $VOLUMES
    lines '^Testing .* \.\.\. local = 0x[0-9A-F]{8}, listed = 0x[0-9A-F]{8} - OK$' "$VOLUME_COUNT"
    has "^$VOLUME_COUNT file\\(s\\) tested - $VOLUME_COUNT OK - 0 bad - 0 missing\\.\\.\\.\$"
    run 0 "$zantra" -m "$1"
    has "^$VOLUME_COUNT +$VOLUME_COUNT +0 *\$"
}

# zantra on a list of which rel.r01 is damaged.
zantra_catches_damage() {
    run 1 "$zantra" -T "$1"
    has '^Testing rel\.r01 \.\.\. listed = 0x[0-9A-F]{8} \.\.\. local = 0x[0-9A-F]{8} \.\.\. BAD$'
    has "^$VOLUME_COUNT file\\(s\\) tested - $((VOLUME_COUNT - 1)) OK - 1 bad - 0 missing \\.\\.\\.\$"
    run 1 "$zantra" -t "$1" rel.r01 rel.r00
    has '^Testing rel\.r01 \.\.\. local = 0x[0-9A-F]{8}, listed = 0x[0-9A-F]{8} - BAD$'
    has '^Testing rel\.r00 \.\.\. local = 0x[0-9A-F]{8}, listed = 0x[0-9A-F]{8} - OK$'
    has '^2 file\(s\) tested - 1 OK - 1 bad - 0 missing\.\.\.$'
    run 0 "$zantra" -m "$1"
    has "^$VOLUME_COUNT +$VOLUME_COUNT +0 *\$"
}

peer_lists() {
    for writer in rhash cksfv; do
        start "$writer writes, zantra verifies"
        # shellcheck disable=SC2086 # one word per volume
        case $writer in
        rhash) "$rhash" --sfv $VOLUMES >"$scratch/pristine/$writer.sfv" ;;
        cksfv) "$cksfv" $VOLUMES >"$scratch/pristine/$writer.sfv" ;;
        esac
        cp "$scratch/pristine/$writer.sfv" list.sfv
        zantra_accepts list.sfv

        cell="$writer writes, rel.r01 damaged"
        damage rel.r01
        zantra_catches_damage list.sfv

        cell="$writer writes, rel.r01 damaged and rel.r02 absent"
        rm rel.r02
        run 2 "$zantra" -T list.sfv
        has '^Testing rel\.r02 \.\.\. listed = 0x[0-9A-F]{8} \.\.\. Local = MISSING$'
        has '^Testing rel\.r01 .* BAD$'
        has "^$VOLUME_COUNT file\\(s\\) tested - $((VOLUME_COUNT - 2)) OK - 1 bad - 1 missing \\.\\.\\.\$"
        run 1 "$zantra" -t list.sfv rel.r02
        has '^Testing rel\.r02 \.\.\. local = 0xFFFFFFFF, listed = MISSING$'
        has_error '^Fatal error: cannot read file: rel\.r02$'
        run 0 "$zantra" -m list.sfv
        has "^$VOLUME_COUNT +$((VOLUME_COUNT - 1)) +1 *\$"

        cell="$writer writes, glftpd mode"
        run 2 "$zantra" -g -T list.sfv
        exists rel.r02.missing
        absent rel.r01
        exists rel.r01.bad
        exists rel.r01.missing
        exists "[066%]-[-all.files.CRC.ok-]"
        has '^Completion Status: \[066%\]-\[-all\.files\.CRC\.ok-\]$'
        cp ../pristine/rel.r01 rel.r01
        cp ../pristine/rel.r02 rel.r02
        run 0 "$zantra" -g -t list.sfv rel.r01
        absent rel.r01.bad
        absent rel.r01.missing
        run 0 "$zantra" -g -T list.sfv
        absent rel.r02.missing
        exists "[100%]-[-all.files.CRC.ok-]"
        absent "[066%]-[-all.files.CRC.ok-]"
    done

    start "rhash writes names with blanks and with letters outside ASCII"
    cp rel.r00 "My Rel.r05"
    cp rel.r01 "$UTF8_NAME"
    "$rhash" --sfv "My Rel.r05" "$UTF8_NAME" >list.sfv
    run 0 "$zantra" -T list.sfv
    has '^Testing My Rel\.r05 \.\.\. .* OK$'
    has "^Testing $(quoted "$UTF8_NAME") \\.\\.\\. .* OK\$"
    run 0 "$zantra" -t list.sfv "My Rel.r05" "$UTF8_NAME"
    lines '^Testing .* - OK$' 2
    run 0 "$zantra" -m list.sfv
    has '^2 +2 +0 *$'

    # Names with a directory part are tested by -t where they name, and found by -T below the
    # current directory.
    start "rhash writes names with a directory part"
    mkdir sub
    cp rel.r00 sub/rel.r05
    "$rhash" --sfv sub/rel.r05 rel.r01 >list.sfv
    run 0 "$zantra" -t list.sfv sub/rel.r05 rel.r01
    lines '^Testing .* - OK$' 2
    run 0 "$zantra" -T list.sfv
    has '^Testing sub/rel\.r05 \.\.\. .* OK$'
    has '^Testing rel\.r01 \.\.\. .* OK$'
}

# The release laid out as a two-disc tree: three volumes a disc and the subtitles' archive.
TREE_FILES="CD1/rel.rar CD1/rel.r00 CD1/rel.r01 CD2/rel.r02 CD2/rel.r03 CD2/Rel.R04 Subs/subs.rar"
tree() {
    mkdir CD1 CD2 Subs
    mv rel.rar rel.r00 rel.r01 CD1
    mv rel.r02 rel.r03 Rel.R04 CD2
    mv rel.nfo Subs/subs.rar
}

# zantra at the top of the tree on a list of it that is good, then with a volume damaged.
zantra_verifies_tree() {
    run 0 "$zantra" -T "$1"
    lines '^Testing (CD1|CD2|Subs)/[^ ]+ \.\.\. listed = 0x[0-9A-F]{8} \.\.\. local = 0x[0-9A-F]{8} \.\.\. OK$' 7
    has '^7 file\(s\) tested - 7 OK - 0 bad - 0 missing \.\.\.$'
    run 0 "$zantra" -m "$1"
    has '^7 +7 +0 *$'
    damage CD2/rel.r02
    run 1 "$zantra" -T "$1"
    has '^Testing CD2/rel\.r02 \.\.\. .* BAD$'
    cp ../pristine/rel.r02 CD2/rel.r02
}

trees() {
    for writer in rhash cksfv rhash-windows; do
        start "$writer writes a tree, zantra verifies"
        tree
        # shellcheck disable=SC2086 # one word per file
        case $writer in
        rhash) "$rhash" -r --sfv CD1 CD2 Subs >tree.sfv ;;
        cksfv) "$cksfv" $TREE_FILES >tree.sfv ;;
        rhash-windows) "$rhash" -r --sfv CD1 CD2 Subs | sed 's#/#\\#' | crlf >tree.sfv ;;
        esac
        run 0 cat tree.sfv
        lines '^(CD1|CD2|Subs)[/\\][^ ]+ [0-9A-F]{8}.?$' 7
        zantra_verifies_tree tree.sfv
    done

    start "zantra -c writes a tree"
    tree
    # shellcheck disable=SC2086
    run 0 "$zantra" -c tree.sfv $TREE_FILES
    zantra_verifies_tree tree.sfv
    # shellcheck disable=SC2086
    peers_verify tree.sfv "" $TREE_FILES
}

# The entry lines of the release as RHash computes them, hex digits in the case given.
entry_lines() {
    case $1 in
    upper) format='%f %C\n' ;;
    lower) format='%f %c\n' ;;
    esac
    # shellcheck disable=SC2086
    (cd "$scratch/pristine" && "$rhash" --printf="$format" $VOLUMES)
}

crlf() {
    awk '{ printf "%s\r\n", $0 }'
}

foreign_styles() {
    long_comment="; $(awk 'BEGIN { for (i = 0; i < 400; i++) printf "-" }')"
    for style in crlf lower bom windows-header hash-header blank-lines all-at-once; do
        list=$scratch/pristine/$style.sfv
        case $style in
        crlf) entry_lines upper | crlf >"$list" ;;
        lower) entry_lines lower >"$list" ;;
        bom) { printf '\357\273\277'; entry_lines upper; } >"$list" ;;
        windows-header)
            {
                printf '; Generated by WIN-SFV32 v1 with MP3-Info Support on 2004-05-06 at 14:03:22\n'
                printf '; Visit http://example.org for news\n;\n'
                printf ';%13s  14:01.07 2004-05-06 rel.rar\n' 1200000
                printf '%s\n' "$long_comment"
                entry_lines upper
            } | crlf >"$list"
            ;;
        hash-header)
            {
                printf '# SFV list made by a shell script\n#\n'
                entry_lines upper
            } >"$list"
            ;;
        blank-lines)
            {
                printf '\n; entries follow\n\n'
                entry_lines upper | awk '{ print; print "" }'
            } | crlf >"$list"
            ;;
        all-at-once)
            {
                printf '\357\273\277'
                {
                    printf '# made elsewhere\n;\n'
                    entry_lines lower
                } | crlf
            } >"$list"
            ;;
        esac

        start "$style list, verified"
        cp "$list" list.sfv
        zantra_accepts list.sfv
        run 0 "$rhash" -c list.sfv
        # shellcheck disable=SC2086
        peers_verdicts "" $VOLUMES

        cell="$style list, rel.r01 damaged"
        damage rel.r01
        zantra_catches_damage list.sfv
    done
}

case $part in
zantra-lists) zantra_lists ;;
peer-lists) peer_lists ;;
foreign-styles) foreign_styles ;;
trees) trees ;;
*)
    printf 'peers.sh: unknown part %s\n' "$part" >&2
    exit 2
    ;;
esac

printf 'interop %s: %d checks, %d failed\n' "$part" "$checks" "$failures"
[ "$failures" -eq 0 ]
