#!/bin/sh
# Which lines of the module's code (module/, xml/, formula/) a fuzz target's inputs reach:
#
#   fuzz/coverage.sh TARGET PATH...      e.g. fuzz/coverage.sh import build-fuzz/corpus/import
#
# Builds the replay programs with clang's source coverage in build-fuzz-cov, replays the
# inputs and prints llvm-cov's report for those folders. Needs clang and llvm
# (llvm-profdata, llvm-cov; plain or with a -14 suffix).
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 scanner|formula|import PATH..." >&2
    exit 2
fi
target=$1
shift
src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build-fuzz-cov
jobs=${JOBS:-2}

tool() {
    for name in "$1" "$1-14"; do
        if command -v "$name" >/dev/null; then
            echo "$name"
            return
        fi
    done
    echo "coverage.sh: $1 is missing (apt-get install llvm)" >&2
    exit 1
}
profdata=$(tool llvm-profdata)
cov=$(tool llvm-cov)

CXX=${CXX:-clang++} cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build "$build" -j "$jobs" --target "${target}_replay" >/dev/null

rm -f "$build"/cov-"$target"-*.profraw
LLVM_PROFILE_FILE="$build/cov-$target-%p.profraw" "$build/fuzz/${target}_replay" "$@" | tail -1
"$profdata" merge -sparse -o "$build/cov-$target.profdata" "$build"/cov-"$target"-*.profraw
"$cov" report "$build/fuzz/${target}_replay" -instr-profile="$build/cov-$target.profdata" \
    "$src/module" "$src/xml" "$src/formula"
