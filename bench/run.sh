#!/usr/bin/env bash
# The import against an inflate-only floor, side by side in one run, then the micro benchmarks.
set -euo pipefail
build=${1:-build}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export SHEAF_TMP="$dir/t"
mkdir -m 700 "$SHEAF_TMP"

echo "Generating the books ..."
"$build/makebook" mixed 100000 "$dir/mixed.xlsx"
"$build/makebook" strings 500000 "$dir/strings.xlsx"

# Best wall time of three runs, in seconds.
best() {
    local best=""
    for _ in 1 2 3; do
        local t0 t1 t
        t0=$(date +%s.%N)
        "$@" > /dev/null
        t1=$(date +%s.%N)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    printf '%.3f' "$best"
}
peak() {   # peak resident memory in MiB
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'
}

printf '%-10s %8s %8s %8s %7s %10s %12s\n' book cells import floor ratio "peak MiB" "us per cell"
for book in mixed strings; do
    f="$dir/$book.xlsx"
    cells=$([ $book = mixed ] && echo 1000000 || echo 500000)
    imp=$(best "$build/sheaf" --format csv "$f")
    floor=$(best unzip -p "$f" xl/worksheets/sheet1.xml xl/sharedStrings.xml)
    mem=$(peak "$build/sheaf" --format csv "$f")
    printf '%-10s %8d %8s %8s %7.2f %10s %12.3f\n' $book $cells $imp $floor \
        "$(echo "$imp / $floor" | bc -l)" $mem "$(echo "$imp * 1000000 / $cells" | bc -l)"
    eval "${book}_per_cell=$(echo "$imp / $cells" | bc -l)"
done
printf 'strings-heavy over mixed, time per cell: %.2f\n' "$(echo "$strings_per_cell / $mixed_per_cell" | bc -l)"
echo
"$build/bench/sheaf_bench" --benchmark_min_time=0.2
