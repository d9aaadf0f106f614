#!/usr/bin/env bash
# Throughput of a backup transfer between two sites: two vantryd joined by a delay line
# (/work/shared/tools/link.sh: namespaces wa 10.78.0.1 and wb 10.78.0.2, a fixed delay and a rate
# limit). The receiver runs in wb, the senders in wa. Per link, in alternating rounds, each
# carrying the same file from tmpfs to tmpfs:
#   fast      SendBackup with [Transfer] FastTransfer=1 (the fast transfer)
#   parts     SendBackup without it (ReceiveBackup calls, one connection per chunk)
#   push      vantry push (the fast transfer where offered)
#   socat     one TCP stream of socat -b 1048576
# Printed: the median MB/s of each, each against socat, and the load average.
#
#   bench/fast_transfer_bench.sh [BUILD_DIR]     (default: build; needs root)
#
# Environment: LINKS (space-separated DELAY_MS:RATE_MBIT, one-way delay; default
# "5:1000 20:1000 0.25:1000"), SIZE_MB (64), ROUNDS (3), TOOLS (which of the four, in this order;
# default all; socat must be among them), LINK_SH (the link script).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

build=$(realpath "${1:-build}")
links=${LINKS:-5:1000 20:1000 0.25:1000}
size_mb=${SIZE_MB:-64}
rounds=${ROUNDS:-3}
link_sh=${LINK_SH:-/work/shared/tools/link.sh}
vantryd=$build/vantryd
vantry=$build/vantry
call=$build/bench/vantry-call

if [ "$(id -u)" != 0 ]; then
  echo "fast_transfer_bench: skipped (needs root for the network namespaces of $link_sh)"
  exit 0
fi

work=$(mktemp -d /dev/shm/vantry-fast-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  bash "$link_sh" down >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_instance NAME NAMESPACE FAST: vantryd in NAMESPACE with D: -> $work; sets PORT_<NAME>.
start_instance() {
  local name=$1 ns=$2 fast=$3 home=$work/home-$1
  mkdir -p "$home"
  printf '[Drives]\r\nD=%s\r\n' "$work" >"$home/Vantry.ini"
  [ "$fast" = 1 ] && printf '[Transfer]\r\nFastTransfer=1\r\n' >>"$home/Vantry.ini"
  start_vantryd "$vantryd" "$home" ip netns exec "$ns"
  pids+=("$VANTRYD_PID")
  printf -v "PORT_$name" %s "$VANTRYD_PORT"
}

now() { date +%s.%N; }
mbps() { awk -v mb="$1" -v s="$2" 'BEGIN { printf "%.0f", mb * 1.048576 / s }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { print b - a }'; }

# run_tool TOOL: seconds for one transfer of $work/a/src.bin to $work/b/dst.bin.
run_tool() {
  rm -f "$work/b/dst.bin"
  local start port listener
  case $1 in
    fast | parts)
      local port_var=PORT_$1
      start=$(now)
      ip netns exec wa "$call" --port "${!port_var}" SendBackup 'D:\a\src.bin' \
        "10.78.0.2:$PORT_receiver" 'D:\b\dst.bin'
      ;;
    push)
      start=$(now)
      ip netns exec wa "$vantry" --server "10.78.0.2:$PORT_receiver" push --progress=never \
        "$work/a/src.bin" 'D:\b\dst.bin' >/dev/null
      ;;
    socat)
      port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
      ip netns exec wb socat -u -b 1048576 "TCP-LISTEN:$port,bind=10.78.0.2,reuseaddr" \
        "OPEN:$work/b/dst.bin,creat,trunc" &
      listener=$!
      for _ in $(seq 100); do
        ip netns exec wb ss -ltn "sport = :$port" | grep -q LISTEN && break
        sleep 0.02
      done
      start=$(now)
      ip netns exec wa socat -u -b 1048576 "OPEN:$work/a/src.bin,rdonly" "TCP:10.78.0.2:$port"
      wait "$listener"
      ;;
  esac
  elapsed "$start"
}

mkdir -p "$work/a" "$work/b"
head -c "$((size_mb * 1048576))" /dev/urandom >"$work/a/src.bin"
read -r -a tools <<<"${TOOLS:-fast parts push socat}"
echo "file: $size_mb MiB of random bytes in tmpfs; $rounds alternating rounds; medians (MB = 10^6 bytes)"
for link in $links; do
  delay=${link%%:*}
  rate=${link##*:}
  bash "$link_sh" up "$delay" "$rate" >/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  start_instance receiver wb 1
  start_instance fast wa 1
  start_instance parts wa 0
  declare -A times=()
  for r in $(seq "$rounds"); do
    order=("${tools[@]}")
    if [ $((r % 2)) = 0 ]; then
      order=()
      for ((i = ${#tools[@]} - 1; i >= 0; i--)); do order+=("${tools[i]}"); done
    fi
    for tool in "${order[@]}"; do
      times[$tool]+="$(run_tool "$tool") "
      cmp -s "$work/a/src.bin" "$work/b/dst.bin" || { echo "$tool: copy differs in round $r" >&2; exit 1; }
    done
  done
  socat_median=$(median ${times[socat]})
  line=$(printf 'link %s ms one way, %s Mbit/s:' "$delay" "$rate")
  for tool in "${tools[@]}"; do
    m=$(median ${times[$tool]})
    line+=$(printf '  %s %s MB/s (%.2fx)' "$tool" "$(mbps "$size_mb" "$m")" \
      "$(awk -v a="$socat_median" -v b="$m" 'BEGIN { print a / b }')")
  done
  echo "$line   load: $(cut -d' ' -f1-3 /proc/loadavg)"
  unset times
done
