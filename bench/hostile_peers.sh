#!/usr/bin/env bash
# Hostile and slow peers against a real vantryd on loopback, one run:
#   1. 16 busy clients alone, then with 2,000 idle connections: call rate and peak resident size;
#   2. 500 connections sending a frame one byte per second: resident size above idle;
#   3. one peer announcing a 2 GiB request and sending nothing: resident size above idle.
#   bench/hostile_peers.sh [SECONDS_PER_RUN]   (default 10)
# Environment: BUILD_DIR (build), IDLE (2000), SLOW (500), SETTLE_SECONDS (11: how long the
# connection threads and sockets of a run are given to end before the next run's baseline). The
# goals shown are for the default counts.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${BUILD_DIR:-$root/build}")
seconds=${1:-10}
idle=${IDLE:-2000}
slow=${SLOW:-500}
settle=${SETTLE_SECONDS:-11}
work=$(mktemp -d)
pid=""
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
ulimit -n 8192 2>/dev/null || true
mkdir -p "$work/home"
start_vantryd "$build/vantryd" "$work/home"
pid=$VANTRYD_PID
port=$VANTRYD_PORT
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
vsize() { awk '/^VmSize:/ {print $2}' "/proc/$pid/status"; }
peak_during() {  # peak VmRSS (KiB) of vantryd while the command runs; peak VmSize in $work/vsize
  local peak=0 now peak_vsize=0
  "$@" > "$work/out" &
  local load=$!
  while kill -0 "$load" 2>/dev/null; do
    now=$(rss); ((now > peak)) && peak=$now
    now=$(vsize); ((now > peak_vsize)) && peak_vsize=$now
    sleep 0.2
  done
  wait "$load"
  echo "$peak_vsize" > "$work/vsize"
  echo "$peak"
}
rate() { sed -n 's/^calls_per_s=\([0-9]*\).*/\1/p' "$work/out"; }
load=("$build/bench/vantry-load" --port "$port" --seconds "$seconds")

idle_kib=$(rss)
echo "vantryd idle: ${idle_kib} KiB resident"
peak=$(peak_during "${load[@]}" --clients 16); alone=$(rate)
echo "16 busy clients: ${alone} calls/s, peak ${peak} KiB"
peak=$(peak_during "${load[@]}" --clients 16 --idle "$idle"); crowded=$(rate)
echo "16 busy clients + $idle idle: ${crowded} calls/s ($(awk "BEGIN {printf \"%.1f\", 100 * ($crowded - $alone) / $alone}")%), peak ${peak} KiB (goal < 204800), address space $(($(cat "$work/vsize") / 1024)) MiB"
sleep "$settle"  # the idle connection threads end
base=$(rss)
peak=$(peak_during "${load[@]}" --clients 0 --slow "$slow")
echo "$slow slow peers (1 byte/s): $(((peak - base) / 1024)) MiB above idle (goal < 50)"
sleep "$settle"
base=$(rss)
peak=$(peak_during "${load[@]}" --clients 0 --announce 1)
echo "1 peer announcing 2 GiB: $((peak - base)) KiB above idle (goal < 2048)"
peak=$(peak_during "${load[@]}" --clients 0 --announce 1 --announce-bytes 1073741824)
echo "1 peer announcing 1 GiB (the largest frame accepted): $((peak - base)) KiB above idle"
