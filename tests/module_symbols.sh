#!/usr/bin/env bash
# The module file reaches the system only through the interfaces it is handed: it takes
# nothing from any library, needs none, and exports its entry, its program entry and its
# version.
# Usage: module_symbols.sh MODULE [NM]; NM reads the module's machine (powerpc-linux-gnu-nm).
set -euo pipefail
module=$1
nm=${2:-nm}
readelf=${nm%nm}readelf
imports=$("$nm" -D --undefined-only "$module" | awk '{ print $NF }')
if [ -n "$imports" ]; then
    echo "sheaf.io imports:" $imports
    exit 1
fi
needed=$("$readelf" -d "$module" | awk '/\(NEEDED\)/ { print $NF }')
if [ -n "$needed" ]; then
    echo "sheaf.io needs:" $needed
    exit 1
fi
# Whole outputs into variables first: a grep that stops early would break the pipe.
exports=$("$nm" -D --defined-only "$module" | awk '{ print $3 }')
for symbol in InitModule _start Version; do
    grep -q -x "$symbol" <<< "$exports" || { echo "sheaf.io does not export $symbol"; exit 1; }
done
# Nothing more: _start's own name and the version string come with them.
others=$(grep -v -x -E 'InitModule|_start|sheaf_start|Version|verstring' <<< "$exports" || true)
if [ -n "$others" ]; then
    echo "sheaf.io exports: $others"
    exit 1
fi
grep -a -q -F '$VER: sheaf.io 0.12 (23.06.2024)' "$module" || { echo "no version string"; exit 1; }
echo "1 passed, 0 failed"
