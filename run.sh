#!/bin/sh
# ./run.sh [TARGET]: make TARGET, run by default, on a machine that may not have make yet.
# A fresh Debian 12 has no make: it comes first, with apt-get (through sudo unless we are
# root); the Makefile then installs the rest it needs.
set -eu
cd "$(dirname "$0")"
if ! command -v make >/dev/null 2>&1; then
    sudo=
    if [ "$(id -u)" != 0 ]; then
        command -v sudo >/dev/null 2>&1 || { echo "run.sh: make is missing; install it as root" >&2; exit 1; }
        sudo=sudo
    fi
    echo "Installing: make"
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq make
fi
exec make "${1:-run}"
