#!/usr/bin/env bash
# Small calls: FileExists of a missing name, one connection per call, from 16 clients, against
# vantryd and against a plain C server (bench/plain_server.c, built here with cc) whose threads
# block in accept() themselves and answer with the same response frame. Rounds alternate between
# the two; each line shows both rates and their ratio, the last line the medians.
#
#   bench/small_calls_bench.sh [BUILD_DIR]   (default: build; needs vantryd and bench/vantry-*)
#
# Environment: ROUNDS (5), SECONDS_PER_RUN (5), CLIENTS (16), THREADS (16, the plain server's).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
rounds=${ROUNDS:-5}
seconds=${SECONDS_PER_RUN:-5}
clients=${CLIENTS:-16}
threads=${THREADS:-16}

work=$(mktemp -d /tmp/vantry-small-calls-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -pthread -o "$work/plain_server" "$root/bench/plain_server.c"
: >"$work/plain.out"
"$work/plain_server" 0 "$threads" >"$work/plain.out" &
pids+=("$!")
plain_port=
for _ in $(seq 100); do
  plain_port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$work/plain.out")
  [ -n "$plain_port" ] && break
  sleep 0.1
done
[ -n "$plain_port" ] || { echo "plain_server did not start" >&2; exit 1; }

mkdir -p "$work/home" "$work/data"
printf '[Drives]\r\nD=%s\r\n' "$work/data" >"$work/home/Vantry.ini"
start_vantryd "$build/vantryd" "$work/home"
pids+=("$VANTRYD_PID")

"$build/bench/vantry-call" --write-request "$work/request" FileExists 'D:\nothere.fbk'
# The service answers false, as the plain server does for every request.
[ "$("$build/bench/vantry-call" --port "$VANTRYD_PORT" FileExists 'D:\nothere.fbk')" = false ]

rate() {  # rate PORT: calls/s; fails when a call failed
  local out
  out=$("$build/bench/vantry-load" --clients "$clients" --seconds "$seconds" --port "$1" \
    --request-file "$work/request")
  grep -q ' errors=0$' <<<"$out" || { echo "calls failed: $out" >&2; exit 1; }
  sed -n 's/^calls_per_s=\([0-9]*\).*/\1/p' <<<"$out"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "FileExists of a missing name, $clients clients, a connection per call, $seconds s per run," \
  "$rounds alternating rounds, $(nproc) cores"
v=() p=() r=()
for round in $(seq "$rounds"); do
  if [ $((round % 2)) = 1 ]; then
    vr=$(rate "$VANTRYD_PORT"); pr=$(rate "$plain_port")
  else
    pr=$(rate "$plain_port"); vr=$(rate "$VANTRYD_PORT")
  fi
  v+=("$vr") p+=("$pr")
  r+=("$(awk -v a="$vr" -v b="$pr" 'BEGIN { printf "%.2f", a / b }')")
  printf 'round %d: vantryd %6d calls/s   plain %6d calls/s   ratio %s\n' \
    "$round" "$vr" "$pr" "${r[-1]}"
done
printf 'median:  vantryd %6d calls/s   plain %6d calls/s   ratio %s (median of the rounds)\n' \
  "$(median "${v[@]}")" "$(median "${p[@]}")" "$(median "${r[@]}")"
