#!/usr/bin/env bash
# Starts vantryd on a free loopback port with a fresh home and data directory and drives it with
# vantry-soak. Arguments go to vantry-soak (--seconds 600 for the long run, --check to assert
# that descriptors and threads return to their idle counts).
#   bench/soak.sh [BUILD_DIR] [--seconds S] [--clients N] [--check]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/data"
printf '[Drives]\r\nT=%s\r\n' "$work/data" > "$work/home/Vantry.ini"
"$build/vantryd" --home "$work/home" --port 0 --verbose 2> "$work/err" &
pid=$!
for _ in $(seq 100); do
  port=$(sed -n 's/^vantryd: running; .*; port \([0-9]*\);.*/\1/p' "$work/err" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/err"; exit 1; }
"$build/bench/vantry-soak" --port "$port" --pid "$pid" --data-dir "$work/data" --drive T "$@"
