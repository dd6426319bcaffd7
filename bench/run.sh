#!/usr/bin/env bash
# The import side by side in one run: against an inflate-only floor (the median of pairwise
# ratios from alternating runs, so that a noisy machine cannot tilt it), with its peak
# memory and a peer's, its cost per cell as the book grows and as a lookup table grows. Then
# the micro benchmarks. The largest hostile books are bench/hostile.sh's (make bench-hostile).
set -euo pipefail
build=${1:-build}
pairs=${BENCH_PAIRS:-7}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export SHEAF_TMP="$dir/t"
mkdir -m 700 "$SHEAF_TMP"

seconds() {   # wall time of one run, output dropped
    times "$@" | cut -d' ' -f1
}
times() {     # wall, user and system seconds of one run, output dropped
    local t0 t1
    t0=$(date +%s.%N)
    /usr/bin/time -f '%U %S' -o "$dir/rusage" "$@" > /dev/null
    t1=$(date +%s.%N)
    echo "$(echo "$t1 - $t0" | bc -l) $(cat "$dir/rusage")"
}
peak() {      # peak resident memory in MiB
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'
}
median() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
column() {    # column n of the pairs file: its median, minimum and maximum
    cut -d' ' -f"$1" "$dir/pairs" | sort -g | awk '{ v[NR] = $1 } END {
        printf "%s %s %s\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR] }'
}
verdict() {   # value, most: "ok" or "MISSED"
    [ "$(echo "$1 <= $2" | bc -l)" = 1 ] && echo ok || echo MISSED
}

# For each of the pairs, after one warm-up of each: the floor's wall, user and system
# seconds, sheaf's, and the ratio of the walls.
pairs_of() {
    local book=$1 f s
    unzip -p "$book" xl/worksheets/sheet1.xml xl/sharedStrings.xml > /dev/null
    "$build/sheaf" --format csv "$book" > /dev/null
    for _ in $(seq "$pairs"); do
        f=$(times unzip -p "$book" xl/worksheets/sheet1.xml xl/sharedStrings.xml)
        s=$(times "$build/sheaf" --format csv "$book")
        echo "$f $s $(echo "${s%% *} / ${f%% *}" | bc -l)"
    done
}

# Instructions and cycles of one run where the machine counts them; else the instructions
# callgrind counts on a tenth of the book, when valgrind is there; else a line saying so.
counted() {
    local book=$1 small=$2 cells=$3 out
    if out=$(perf stat -x, -e instructions,cycles "$build/sheaf" --format csv "$book" 2>&1 >/dev/null) &&
       ! grep -q 'not supported\|not counted' <<< "$out"; then
        awk -F, -v c="$cells" '$3 ~ /^(instructions|cycles)/ { printf "%s %.0f per cell  ", $3, $1 / c }
                               END { print "(hardware counters)" }' <<< "$out"
    elif command -v valgrind > /dev/null; then
        valgrind --tool=callgrind --callgrind-out-file="$dir/cg.out" "$build/sheaf" --format csv \
            "$small" > /dev/null 2> "$dir/cg.log"
        awk -v c="$((cells / 10))" '/Collected/ { printf "instructions %.0f per cell (callgrind, %d cells; no hardware counters)\n", $4 / c, c }' "$dir/cg.log"
    else
        echo "no hardware counters and no valgrind: nothing counted"
    fi
}

echo "Generating the books ..."
"$build/makebook" mixed 100000 "$dir/mixed.xlsx"
"$build/makebook" strings 500000 "$dir/strings.xlsx"

echo
echo "sheaf --format csv against unzip -p of the two members it reads, $pairs alternating pairs"
printf '%-8s %8s %8s %8s %7s %6s %13s %9s %6s %10s %9s %8s\n' book cells sheaf floor ratio "" \
    "min-max" "peak MiB" "" xlsx2csv "its MiB" speedup
for book in mixed strings; do
    f="$dir/$book.xlsx"
    cells=$([ $book = mixed ] && echo 1000000 || echo 500000)
    most=$([ $book = mixed ] && echo 1.5 || echo 1.8)
    pairs_of "$f" > "$dir/pairs"
    floor=$(column 1 | cut -d' ' -f1)
    imp=$(column 4 | cut -d' ' -f1)
    read -r ratio low high <<< "$(column 7)"
    mem=$(peak "$build/sheaf" --format csv "$f")
    peer=$(seconds xlsx2csv "$f")
    peermem=$(peak xlsx2csv "$f")
    printf '%-8s %8d %8.3f %8.3f %7.2f %6s %6.2f-%-6.2f %9s %6s %10.2f %9s %7.1fx\n' $book $cells \
        "$imp" "$floor" "$ratio" "$(verdict "$ratio" "$most")" "$low" "$high" "$mem" \
        "$(verdict "$mem" 64)" "$peer" "$peermem" "$(echo "$peer / $imp" | bc -l)"
    read -r fu fu_lo fu_hi <<< "$(column 2)"
    read -r fs fs_lo fs_hi <<< "$(column 3)"
    read -r su su_lo su_hi <<< "$(column 5)"
    read -r ss ss_lo ss_hi <<< "$(column 6)"
    printf '%-8s user s: sheaf %.3f (%.3f-%.3f) floor %.3f (%.3f-%.3f); system s: sheaf %.3f (%.3f-%.3f) floor %.3f (%.3f-%.3f)\n' \
        "" "$su" "$su_lo" "$su_hi" "$fu" "$fu_lo" "$fu_hi" "$ss" "$ss_lo" "$ss_hi" "$fs" "$fs_lo" "$fs_hi"
    rows=$([ $book = mixed ] && echo 10000 || echo 50000)
    "$build/makebook" $book $rows "$dir/small.xlsx"
    printf '%-8s %s\n' "" "$(counted "$f" "$dir/small.xlsx" $cells)"
    rm -f "$dir/small.xlsx"
done
echo "(targets: ratio at most 1.5 on the mixed book and 1.8 on the strings book, peak at most 64 MiB;"
echo " min-max: the spread of the pairs' ratios; user and system seconds: medians, min-max of the pairs)"

echo
echo "The mixed book as it grows: the median of three runs each"
printf '%9s %8s %10s %9s %10s\n' cells sheaf "us/cell" "peak MiB" "bytes/cell"
for rows in 10000 100000 400000; do
    f="$dir/grow.xlsx"
    "$build/makebook" mixed $rows "$f"
    cells=$((rows * 10))
    imp=$(for _ in 1 2 3; do seconds "$build/sheaf" --format csv "$f"; done | median)
    mem=$(peak "$build/sheaf" --format csv "$f")
    printf '%9d %8.3f %10.3f %9s %10.1f\n' $cells "$imp" "$(echo "$imp * 1000000 / $cells" | bc -l)" \
        "$mem" "$(echo "$mem * 1048576 / $cells" | bc -l)"
    eval "per_$rows=$(echo "$imp / $cells" | bc -l)"
done
growth=$(echo "$per_400000 / $per_100000" | bc -l)
printf 'time per cell at 4,000,000 over 1,000,000: %.2f %s (target: at most 1.2)\n' "$growth" \
    "$(verdict "$growth" 1.2)"
rm -f "$dir/grow.xlsx"

echo
echo "Lookups as their table grows: 300,000 uses of a shared formula past the index beside more"
echo "and more definitions (jsonl: the definitions span all 16,384 columns), the median of three runs"
printf '%12s %9s %8s %10s\n' definitions cells sheaf "us/cell"
for defs in 1000 10000 40000; do
    f="$dir/lookup.xlsx"
    "$build/makebook" shared $defs 300000 1048577 "$f"
    cells=$((defs + 300000))
    imp=$(for _ in 1 2 3; do seconds "$build/sheaf" --format jsonl "$f"; done | median)
    printf '%12d %9d %8.3f %10.3f\n' $defs $cells "$imp" "$(echo "$imp * 1000000 / $cells" | bc -l)"
    eval "lookup_$defs=$(echo "$imp / $cells" | bc -l)"
done
growth=$(echo "$lookup_40000 / $lookup_1000" | bc -l)
printf 'time per cell with 40,000 definitions over 1,000: %.2f %s (target: at most 1.5)\n' "$growth" \
    "$(verdict "$growth" 1.5)"
printf '%12s %8s\n' sheets sheaf
for sheets in 1000 10000 40000; do
    f="$dir/lookup.xlsx"
    "$build/makebook" unknownsheets $sheets "$f"
    imp=$(for _ in 1 2 3; do seconds "$build/sheaf" --format jsonl "$f"; done | median)
    printf '%12d %8.3f   (sheets of unknown ids beside as many chart-sheet relationships)\n' $sheets "$imp"
done
rm -f "$dir/lookup.xlsx"

echo
"$build/bench/sheaf_bench" --benchmark_min_time=0.2
