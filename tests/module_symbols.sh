#!/usr/bin/env bash
# The module file reaches the system only through the interfaces it is handed: it may take
# nothing from the C library but the memory routines the compiler calls by itself, and it
# exports its entry, its program entry and its version.
set -euo pipefail
module=$1
imports=$(nm -D --undefined-only "$module" | awk '$1 == "U" { sub(/@.*/, "", $2); print $2 }' |
          grep -v -x -E 'memcpy|memmove|memset|memcmp' || true)
if [ -n "$imports" ]; then
    echo "sheaf.io imports: $imports"
    exit 1
fi
# Whole outputs into variables first: a grep that stops early would break the pipe.
exports=$(nm -D --defined-only "$module" | awk '{ print $3 }')
for symbol in InitModule _start Version; do
    grep -q -x "$symbol" <<< "$exports" || { echo "sheaf.io does not export $symbol"; exit 1; }
done
grep -a -q -F '$VER: sheaf.io 0.12 (23.06.2024)' "$module" || { echo "no version string"; exit 1; }
echo "1 passed, 0 failed"
