#!/usr/bin/env bash
# FileExists calls per second from 16 clients against one vantryd: a missing name and an
# existing name in other letter case, in a directory of 10,000 files and in a nearly empty one.
#
#   bench/lookup_bench.sh [BUILD_DIR]      (default: build; needs vantryd and bench/vantry-*)
#
# Environment: SECONDS_PER_RUN (5), CLIENTS (16), FILES (10000).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

build=$(realpath "${1:-build}")
seconds=${SECONDS_PER_RUN:-5}
clients=${CLIENTS:-16}
files=${FILES:-10000}

work=$(mktemp -d /tmp/vantry-lookup-XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/data/small" "$work/data/big"
printf '[Drives]\r\nD=%s\r\n' "$work/data" >"$work/home/Vantry.ini"
touch "$work/data/small/db00042.fbk" "$work/data/small/db00043.fbk"
(cd "$work/data/big" && seq -f 'db%05g.fbk' "$files" | xargs touch)

start_vantryd "$build/vantryd" "$work/home"
pid=$VANTRYD_PID
port=$VANTRYD_PORT

rate() {  # rate PATH: calls/s of FileExists(PATH)
  "$build/bench/vantry-call" --write-request "$work/request" FileExists "$1"
  "$build/bench/vantry-load" --clients "$clients" --seconds "$seconds" --port "$port" \
    --request-file "$work/request" | tail -1 | sed -n 's/.*calls_per_s=\([0-9.]*\).*/\1/p'
}

echo "FileExists, $clients clients, $seconds s each; directory of $files files against one of 2"
for kind in missing other-case; do
  if [ "$kind" = missing ]; then name=nothere.fbk; else name=DB00042.FBK; fi
  small=$(rate "D:\\small\\$name")
  big=$(rate "D:\\big\\$name")
  printf '%-11s small %7.0f calls/s   big %7.0f calls/s   small/big %.2f\n' \
    "$kind" "$small" "$big" "$(awk -v a="$small" -v b="$big" 'BEGIN { print a / b }')"
done
