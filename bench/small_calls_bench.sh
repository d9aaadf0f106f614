#!/usr/bin/env bash
# Small calls: FileExists of a missing name, one connection per call, from 16 clients, against
# vantryd and against a plain C server (bench/plain_server.c, built here with cc) whose threads
# block in accept() themselves and answer with the same response frame. Rounds alternate between
# the two; each line shows both rates and their ratio, and the processor time each server spent
# per call, which other work on a shared machine disturbs less than the rates.
# The last line shows the medians.
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
trap 'stop_and_remove "$work"' EXIT

cc -O2 -pthread -o "$work/plain_server" "$root/bench/plain_server.c"
: >"$work/plain.out"
"$work/plain_server" 0 "$threads" >"$work/plain.out" &
plain_pid=$!
pids+=("$plain_pid")
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

# Run time of all threads of a process in ns, from the scheduler's own accounting: precise, where
# the user and system times of /proc/PID/stat are sampled at each clock tick. Threads that end
# during a run take theirs with them; both servers keep their threads while they serve.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
# run PORT PID: sets RATE (calls/s) and CPU_US (the server's processor time per call, in us);
# fails when a call failed.
run() {
  local out before after calls
  before=$(cpu_ns "$2")
  out=$("$build/bench/vantry-load" --clients "$clients" --seconds "$seconds" --port "$1" \
    --request-file "$work/request")
  after=$(cpu_ns "$2")
  grep -q ' errors=0$' <<<"$out" || { echo "calls failed: $out" >&2; exit 1; }
  RATE=$(sed -n 's/^calls_per_s=\([0-9]*\).*/\1/p' <<<"$out")
  calls=$(sed -n 's/.* calls=\([0-9]*\) .*/\1/p' <<<"$out")
  CPU_US=$(awk -v t=$((after - before)) -v c="$calls" \
    'BEGIN { printf "%.1f", (c > 0 ? t / 1000 / c : 0) }')
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "FileExists of a missing name, $clients clients, a connection per call, $seconds s per run," \
  "$rounds alternating rounds, $(nproc) cores, load average $(cut -d' ' -f1 /proc/loadavg)"
v=() p=() r=() vc=() pc=()
for round in $(seq "$rounds"); do
  for server in $([ $((round % 2)) = 1 ] && echo vantryd plain || echo plain vantryd); do
    if [ "$server" = vantryd ]; then
      run "$VANTRYD_PORT" "$VANTRYD_PID"; v+=("$RATE"); vc+=("$CPU_US")
    else
      run "$plain_port" "$plain_pid"; p+=("$RATE"); pc+=("$CPU_US")
    fi
  done
  r+=("$(ratio "${v[-1]}" "${p[-1]}")")
  printf 'round %d: vantryd %6d calls/s %6s us/call   plain %6d calls/s %6s us/call   ratio %s\n' \
    "$round" "${v[-1]}" "${vc[-1]}" "${p[-1]}" "${pc[-1]}" "${r[-1]}"
done
printf 'median:  vantryd %6d calls/s %6s us/call   plain %6d calls/s %6s us/call   ratio %s\n' \
  "$(median "${v[@]}")" "$(median "${vc[@]}")" "$(median "${p[@]}")" "$(median "${pc[@]}")" \
  "$(median "${r[@]}")"
