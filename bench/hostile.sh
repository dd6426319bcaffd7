#!/usr/bin/env bash
# The largest hostile workbooks, too big for the tests: each imported once by the sheaf
# command, with its time, its outcome and the bytes it wrote (to T: and its output; the
# kernel's count of all writes of the run). SPACES sets the ideographic spaces of the UTF-16
# member (173015040 by default: a member of 330 MiB).
set -euo pipefail
build=${1:-build}
spaces=${SPACES:-173015040}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export SHEAF_TMP="$dir/t"
mkdir -m 700 "$SHEAF_TMP"

# Runs sheaf on a book: seconds, exit status, bytes written, and its message if it failed.
run() {
    local book=$1 t0 t1
    t0=$(date +%s.%N)
    sh -c '"$@" > /dev/null 2> "'"$dir"'/err"; echo "status $? written $(grep wchar /proc/$$/io | cut -d" " -f2)"' \
        sh "$build/sheaf" --format jsonl "$book" > "$dir/out" || true
    t1=$(date +%s.%N)
    printf '%-34s %8.2f s  %s  %s\n' "$(basename "$book")" "$(echo "$t1 - $t0" | bc -l)" "$(cat "$dir/out")" \
        "$(head -c 100 "$dir/err")"
}

echo "Generating the books ..."
"$build/makebook" comment 65535 "$dir/comment-65535.xlsx"
"$build/makebook" twoways "$dir/two-ways.xlsx"
"$build/makebook" shared 40000 300000 1048577 "$dir/shared-40000-300000.xlsx"
"$build/makebook" unknownsheets 10000 "$dir/unknown-sheets-10000.xlsx"
"$build/makebook" wide "$spaces" "$dir/utf16-spaces.xlsx"

for book in comment-65535 two-ways shared-40000-300000 unknown-sheets-10000; do
    run "$dir/$book.xlsx"
done
echo "The UTF-16 member of $((spaces * 2 / 1048576)) MiB with the unpack limited to 400 MiB:"
SHEAF_UNZIP_MAX_BYTES=400M SHEAF_UNZIP_MAX_RATIO=1000000 run "$dir/utf16-spaces.xlsx"
