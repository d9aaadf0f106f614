#!/usr/bin/env bash
# archive_bench.sh INPUT_FILE: ArchiveFile through the running service against zip -6 and
# pigz -6 -p 2 -K on copies of the same file, in one run. Prints throughput (MB/s of input, from
# the median time of the rounds), the speed against zip and against pigz, archive sizes and
# ratios, the load of the machine before and after, and the service's peak resident size above
# its idle size.
# NICE=-10 runs the service and both peers at that priority alike, so that other work on a shared
# machine disturbs the comparison less (a negative value needs root).
# Needs build/vantryd and build/bench/vantry-call (targets vantryd, vantry-call); installs zip and
# pigz when they are missing.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

INPUT=${1:?usage: archive_bench.sh INPUT_FILE}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VANTRYD=${VANTRYD:-$ROOT/build/vantryd}
CALL=${CALL:-$ROOT/build/bench/vantry-call}

for tool in zip pigz unzip; do
  if ! command -v "$tool" >/dev/null; then
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends zip pigz unzip
    break
  fi
done

WORK=$(mktemp -d /tmp/archive-bench.XXXXXX)
PID=
cleanup() {
  if [ -n "$PID" ]; then kill "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

NAME=$(basename "$INPUT")
BASE=${NAME%.*}
SIZE=$(stat -c %s "$INPUT")
mkdir -p "$WORK/home" "$WORK/svc" "$WORK/zip" "$WORK/pigz"
for d in svc zip pigz; do cp "$INPUT" "$WORK/$d/$NAME"; done
sync
printf '[Drives]\nD=%s\n' "$WORK/svc" > "$WORK/home/Vantry.ini"

now() { date +%s.%N; }
RUN=(nice -n "${NICE:-0}")
status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
rate() { awk -v s="$SIZE" -v t="$1" 'BEGIN { printf "%.1f", s / 1e6 / t }'; }
ratio() { awk -v a="$1" -v s="$SIZE" 'BEGIN { printf "%.4f", a / s }'; }

start_vantryd "$VANTRYD" "$WORK/home" "${RUN[@]}"
PID=$VANTRYD_PID
PORT=$VANTRYD_PORT
sleep 0.5
IDLE_RSS=$(status_kb "$PID" VmRSS)
LOAD=$(cut -d" " -f1 /proc/loadavg)

# The machine may be shared: each tool runs ROUNDS times, interleaved, and its median time counts
# (the best is shown beside it).
ROUNDS=${ROUNDS:-5}
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
lowest() { tr ' ' '\n' | sort -g | head -n 1; }
timed() { local t0 t1; t0=$(now); "$@"; t1=$(now); awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'; }
SVC_TIMES= ZIP_TIMES= PIGZ_TIMES=
for round in $(seq "$ROUNDS"); do
  rm -f "$WORK/svc/$BASE.zip" "$WORK/zip/$BASE.zip" "$WORK/pigz/"*.zip
  [ -f "$WORK/svc/$NAME" ] || cp "$INPUT" "$WORK/svc/$NAME"
  sync
  SVC_TIMES+=" $(timed "$CALL" --port "$PORT" ArchiveFile "D:\\$NAME")"
  ZIP_TIMES+=" $(cd "$WORK/zip" && timed "${RUN[@]}" zip -6 -q "$BASE.zip" "$NAME")"
  PIGZ_TIMES+=" $(cd "$WORK/pigz" && timed "${RUN[@]}" pigz -6 -p 2 -K -k "$NAME")"
done
LOAD_AFTER=$(cut -d" " -f1 /proc/loadavg)
SVC_TIME=$(echo $SVC_TIMES | median) ZIP_TIME=$(echo $ZIP_TIMES | median) PIGZ_TIME=$(echo $PIGZ_TIMES | median)
PEAK=$(status_kb "$PID" VmHWM)
unzip -tq "$WORK/svc/$BASE.zip" >/dev/null
SVC_SIZE=$(stat -c %s "$WORK/svc/$BASE.zip")
ZIP_SIZE=$(stat -c %s "$WORK/zip/$BASE.zip")
PIGZ_SIZE=$(stat -c %s "$WORK/pigz/$NAME.zip" 2>/dev/null || stat -c %s "$WORK/pigz/$BASE.zip")

echo "input: $INPUT, $SIZE bytes, $(nproc) cores, median of $ROUNDS rounds, nice ${NICE:-0}, load before: $LOAD, after: $LOAD_AFTER"
printf '%-18s %9s %9s %8s %14s %8s %8s\n' tool MB/s "best MB/s" ratio "archive bytes" "x zip" "x pigz"
for row in "ArchiveFile $SVC_TIME $SVC_SIZE $(echo $SVC_TIMES | lowest)" \
           "zip-6 $ZIP_TIME $ZIP_SIZE $(echo $ZIP_TIMES | lowest)" \
           "pigz-6-p2-K $PIGZ_TIME $PIGZ_SIZE $(echo $PIGZ_TIMES | lowest)"; do
  set -- $row
  speedup=$(awk -v z="$ZIP_TIME" -v t="$2" 'BEGIN { printf "%.2f", z / t }')
  versus_pigz=$(awk -v p="$PIGZ_TIME" -v t="$2" 'BEGIN { printf "%.2f", p / t }')
  printf '%-18s %9s %9s %8s %14s %8s %8s\n' "$1" "$(rate "$2")" "$(rate "$4")" "$(ratio "$3")" "$3" \
    "$speedup" "$versus_pigz"
done
echo "ArchiveFile size / zip size: $(awk -v a="$SVC_SIZE" -v z="$ZIP_SIZE" 'BEGIN { printf "%.4f", a / z }')"
echo "vantryd resident: idle ${IDLE_RSS} kB, peak ${PEAK} kB, peak above idle $(( (PEAK - IDLE_RSS) / 1024 )) MiB"
