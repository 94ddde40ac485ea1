#!/bin/sh
# Prints how much of the code is tests: cloc's code lines (no blanks, no
# comments) of C++, C, CMake, Python and shell in the tracked files. Product is
# everything but tests/, fuzz/ and bench/; tests are tests/ without its fixtures.
set -eu
cd "$(dirname "$0")/.."
command -v cloc >/dev/null || { echo "test-share: cloc is not installed (scripts/setup.sh installs it)" >&2; exit 2; }

langs="C++,C/C++ Header,C,CMake,Python,Bourne Shell,Bourne Again Shell"
list=$(mktemp)
trap 'rm -f "$list" "$list".*' EXIT
git ls-files >"$list"
grep -v -E '^(tests|fuzz|bench)/' "$list" >"$list.product" || true
grep -E '^tests/' "$list" | grep -v -E '^tests/(.*/)?fixtures/' >"$list.tests" || true

count() {
    cloc --quiet --csv --include-lang="$langs" --list-file="$1" |
        awk -F, '$2 == "SUM" { print $5 }'
}
product=$(count "$list.product")
tests=$(count "$list.tests")
echo "product: $product lines"
echo "tests:   $tests lines"
awk -v p="$product" -v t="$tests" 'BEGIN { printf "tests are %.1f%% of the two together\n", 100 * t / (p + t) }'
