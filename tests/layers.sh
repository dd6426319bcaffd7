#!/usr/bin/env bash
# The layers of the module's code: each folder includes only what lies below it. sdk/ and
# host/ are the system and the host as a module sees them; xml/ builds on those, formula/ on
# xml/, module/ on all. None of them reaches the stand-in, the host program or the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
allowed() {   # folder: the project folders its files may include
    case $1 in
        sdk)     echo "sdk" ;;
        host)    echo "sdk host" ;;
        xml)     echo "sdk host xml" ;;
        formula) echo "sdk host xml formula" ;;
        module)  echo "sdk host xml formula module" ;;
    esac
}
bad=0
for folder in sdk host xml formula module; do
    for file in "$folder"/*; do
        while IFS= read -r target; do
            top=${target%%/*}
            if ! grep -qw "$top" <<< "$(allowed "$folder")"; then
                echo "$file includes $target"
                bad=1
            fi
        done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
    done
done
[ $bad = 0 ] && echo "layers hold"
exit $bad
