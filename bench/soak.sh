#!/usr/bin/env bash
# Starts vantryd on a free loopback port with a fresh home and data directory and drives it with
# vantry-soak. Arguments go to vantry-soak (--seconds 600 for the long run, --check to assert
# that descriptors and threads return to their idle counts).
#   bench/soak.sh [BUILD_DIR] [--seconds S] [--clients N] [--check]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
work=$(mktemp -d)
pid=""
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/data"
printf '[Drives]\r\nT=%s\r\n' "$work/data" > "$work/home/Vantry.ini"
start_vantryd "$build/vantryd" "$work/home"
pid=$VANTRYD_PID
port=$VANTRYD_PORT
"$build/bench/vantry-soak" --port "$port" --pid "$pid" --data-dir "$work/data" --drive T "$@"
