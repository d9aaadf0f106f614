#!/usr/bin/env bash
# Small calls with and without monitoring: FileExists of a missing name from 16 clients, one
# connection per call, while /metrics is scraped every 100 ms and while it is not. Rounds
# alternate between the two within one run of vantryd; each line shows both rates and their
# ratio, the last line the medians. The scrape must show vantry_calls_total.
#
#   bench/metrics_scrape_bench.sh [BUILD_DIR]   (default: build; needs vantryd and bench/vantry-*)
#
# Environment: ROUNDS (5), SECONDS_PER_RUN (5), CLIENTS (16), SCRAPE_INTERVAL (0.1 s).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
rounds=${ROUNDS:-5}
seconds=${SECONDS_PER_RUN:-5}
clients=${CLIENTS:-16}
interval=${SCRAPE_INTERVAL:-0.1}

work=$(mktemp -d /tmp/vantry-metrics-scrape-XXXXXX)
pids=()
trap 'stop_and_remove "$work"' EXIT

metrics_port=$(free_port)
mkdir -p "$work/home" "$work/data"
printf '[Drives]\r\nD=%s\r\n[Metrics]\r\nPort=%s\r\n' "$work/data" "$metrics_port" \
  >"$work/home/Vantry.ini"
start_vantryd "$build/vantryd" "$work/home"
pids+=("$VANTRYD_PID")

"$build/bench/vantry-call" --write-request "$work/request" FileExists 'D:\nothere.fbk'
[ "$("$build/bench/vantry-call" --port "$VANTRYD_PORT" FileExists 'D:\nothere.fbk')" = false ]

# One GET over bash's own TCP, the answer to stdout.
scrape() {
  exec 3<>"/dev/tcp/127.0.0.1/$metrics_port"
  printf 'GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
  cat <&3
  exec 3>&-
}
scrape | grep -q '^vantry_calls_total{operation="FileExists",outcome="ok"} ' ||
  { echo "no vantry_calls_total for FileExists in /metrics" >&2; exit 1; }

# run: sets RATE (calls/s); fails when a call failed.
run() {
  local out
  out=$("$build/bench/vantry-load" --clients "$clients" --seconds "$seconds" --port "$VANTRYD_PORT" \
    --request-file "$work/request")
  grep -q ' errors=0$' <<<"$out" || { echo "calls failed: $out" >&2; exit 1; }
  RATE=$(sed -n 's/^calls_per_s=\([0-9]*\).*/\1/p' <<<"$out")
}
# run_scraped: run while a scraper asks every $interval s; SCRAPES is how many it made.
run_scraped() {
  : >"$work/scrapes"
  (while :; do scrape >/dev/null && echo >>"$work/scrapes"; sleep "$interval"; done) &
  local scraper=$!
  run
  kill "$scraper"; wait "$scraper" 2>/dev/null || true
  SCRAPES=$(wc -l <"$work/scrapes")
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

echo "FileExists of a missing name, $clients clients, a connection per call, $seconds s per run," \
  "scrape every $interval s, $rounds alternating rounds, $(nproc) cores," \
  "load average $(cut -d' ' -f1 /proc/loadavg)"
q=() s=() r=()
for round in $(seq "$rounds"); do
  for mode in $([ $((round % 2)) = 1 ] && echo quiet scraped || echo scraped quiet); do
    if [ "$mode" = quiet ]; then
      run; q+=("$RATE")
    else
      run_scraped; s+=("$RATE")
    fi
  done
  r+=("$(ratio "${s[-1]}" "${q[-1]}")")
  printf 'round %d: unscraped %6d calls/s   scraped %6d calls/s (%d scrapes)   ratio %s\n' \
    "$round" "${q[-1]}" "${s[-1]}" "$SCRAPES" "${r[-1]}"
done
printf 'median:   unscraped %6d calls/s   scraped %6d calls/s   ratio %s\n' \
  "$(median "${q[@]}")" "$(median "${s[@]}")" "$(median "${r[@]}")"
