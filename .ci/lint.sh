#!/bin/sh
# Lint, at what is clean today; any finding fails. From the repository's root:
#   sh .ci/lint.sh [build-directory]
# - clang-format --dry-run --Werror over the C++ files of src/ and tests/, with .clang-format;
# - shellcheck over .ci/, examples/ and the shell scripts of tests/;
# - .ci/check-hooks.sh: the block the hook scripts share is the same in each;
# - clang-tidy over src/ with the checks .clang-tidy enables, on the compile commands of a
#   configure in the build directory (default build-lint; no build is needed). The tests are
#   left out: each of their files parses GoogleTest, which would multiply the time.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-lint}
failed=""

cxx_files=$(find src tests -name '*.cpp' -o -name '*.h' | LC_ALL=C sort)
# shellcheck disable=SC2086 # one word per file; the names hold no blanks
clang-format --dry-run --Werror $cxx_files || failed="$failed clang-format"

# Every file there that starts with a shell's #! line, whatever its name (.ci/run, hooks).
shell_scripts=$(find .ci examples tests -type f ! -path '*/corpus/*' | LC_ALL=C sort |
    while read -r file; do
        case $(head -n 1 "$file") in '#!'*/sh | '#!'*/bash | '#!'*' sh') echo "$file" ;; esac
    done)
# shellcheck disable=SC2086
shellcheck $shell_scripts || failed="$failed shellcheck"
sh .ci/check-hooks.sh || failed="$failed check-hooks"

cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DZANTRA_BUILD_TESTS=OFF >/dev/null
find src -name '*.cpp' | LC_ALL=C sort |
    xargs -n 4 -P 2 clang-tidy -p "$build" --quiet || failed="$failed clang-tidy"

if [ -n "$failed" ]; then
    echo "lint: findings of$failed" >&2
    exit 1
fi
echo "lint: clang-format, shellcheck, check-hooks and clang-tidy found nothing"
