#!/usr/bin/env bash
# Runs one benchmark of bench/ once in its smallest form, for the test suite: a few seconds, its
# figures not judged, so that a benchmark that no longer runs fails the tests.
#
#   bench/smoke.sh BUILD_DIR NAME    NAME: vantry_bench, vantry-load, deflate-blocks or a script
#                                    of bench/
#
# A new script needs its smallest form here; an unknown NAME fails.
set -euo pipefail
build=$(realpath "$1")
name=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/vantry-smoke-XXXXXX)
trap 'rm -rf "$work"' EXIT

case $name in
  vantry_bench)
    # Directories of 10,000 files and more take their time to fill; the smallest one stands in.
    "$build/bench/vantry_bench" --benchmark_min_time=0.01 '--benchmark_filter=-/[1-9][0-9]{4,}/'
    ;;
  vantry-load)
    "$build/bench/vantry-load" --baseline --clients 4 --seconds 1
    ;;
  deflate-blocks)
    { seq 200000; head -c 300000 /dev/urandom; } >"$work/input.fbk"
    "$build/bench/deflate-blocks" "$work/input.fbk"
    ;;
  archive_bench.sh)
    # Half text, half random bytes: both the compressing and the storing side of Deflate.
    { seq 100000; head -c 500000 /dev/urandom; } >"$work/input.fbk"
    VANTRYD=$build/vantryd CALL=$build/bench/vantry-call ROUNDS=1 \
      bash "$here/archive_bench.sh" "$work/input.fbk"
    ;;
  copy_bench.sh)
    SIZE_MB=4 ROUNDS=1 DISK_DIR=$work bash "$here/copy_bench.sh" "$build"
    ;;
  hostile_peers.sh)
    BUILD_DIR=$build IDLE=200 SLOW=50 SETTLE_SECONDS=1 bash "$here/hostile_peers.sh" 1
    ;;
  lookup_bench.sh)
    SECONDS_PER_RUN=1 FILES=100 bash "$here/lookup_bench.sh" "$build"
    ;;
  metrics_scrape_bench.sh)
    ROUNDS=1 SECONDS_PER_RUN=1 bash "$here/metrics_scrape_bench.sh" "$build"
    ;;
  small_calls_bench.sh)
    ROUNDS=1 SECONDS_PER_RUN=1 bash "$here/small_calls_bench.sh" "$build"
    ;;
  tls_bench.sh)
    SIZE_MB=4 ROUNDS=1 SECONDS_LOAD=1 STALLED=50 bash "$here/tls_bench.sh" "$build"
    ;;
  fast_transfer_bench.sh)
    LINKS=loop SIZE_MB=4 ROUNDS=1 TOOLS="fast parts push socat fast-tls parts-tls" \
      bash "$here/fast_transfer_bench.sh" "$build"
    if [ "$(id -u)" = 0 ]; then
      LINKS=0.25:1000 SIZE_MB=4 ROUNDS=1 bash "$here/fast_transfer_bench.sh" "$build"
    fi
    ;;
  transfer_bench.sh)
    SIZE_MB=4 ROUNDS=1 BIG_MB=8 DISK_DIR=$work bash "$here/transfer_bench.sh" "$build"
    ;;
  *)
    echo "smoke.sh: no smallest form for $name; add one" >&2
    exit 1
    ;;
esac
