#!/usr/bin/env bash
# Throughput of a backup transfer between two sites: two vantryd joined by a delay line
# (/work/shared/tools/link.sh: namespaces wa 10.78.0.1 and wb 10.78.0.2, a fixed delay and a rate
# limit). The receiver runs in wb, the senders in wa. Per link, in alternating rounds, each
# carrying the same file from tmpfs to tmpfs:
#   fast      SendBackup with [Transfer] FastTransfer=1 (the fast transfer)
#   parts     SendBackup without it (ReceiveBackup calls, one connection per chunk)
#   push      vantry push (the fast transfer where offered)
#   socat     one TCP stream of socat -b 1048576
#   fast-tls  SendBackup with the fast transfer to the receiver's TLS port (a tls:// target)
#   parts-tls SendBackup without it, to the TLS port
# Printed: the median MB/s of each, each against socat, and the load average.
#
#   bench/fast_transfer_bench.sh [BUILD_DIR]     (default: build; needs root for a delay line)
#
# Environment: LINKS (space-separated DELAY_MS:RATE_MBIT, one-way delay, or "loop": both ends on
# 127.0.0.1 without a delay line; default "5:1000 20:1000 0.25:1000"), SIZE_MB (64), ROUNDS (3),
# TOOLS (which of the above, in this order; default "fast parts push socat"; socat must be among
# them), LINK_SH (the link script).
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

if [ "$(id -u)" != 0 ] && [ -n "$(tr ' ' '\n' <<<"$links" | grep -vx loop)" ]; then
  echo "fast_transfer_bench: skipped (needs root for the network namespaces of $link_sh)"
  exit 0
fi

work=$(mktemp -d /dev/shm/vantry-fast-bench-XXXXXX)
pids=()
cleanup() {
  stop_and_remove
  bash "$link_sh" down >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT


# in_a/in_b COMMAND...: runs COMMAND at the sending or the receiving end (a namespace of the
# delay line, or here on loopback); host_b is the receiver's address.
in_a() { if [ "$link" = loop ]; then "$@"; else ip netns exec wa "$@"; fi; }
in_b() { if [ "$link" = loop ]; then "$@"; else ip netns exec wb "$@"; fi; }

# Both ends present one certificate made for the receiver's address.
tls_dir=$work/tls

# start_instance NAME SIDE FAST: vantryd at SIDE (a or b) with D: -> $work and a TLS port; sets
# PORT_<NAME> and TLS_<NAME>.
start_instance() {
  local name=$1 side=$2 fast=$3 home=$work/home-$1 tls_port
  tls_port=$(free_port)
  mkdir -p "$home"
  printf '[Drives]\r\nD=%s\r\n' "$work" >"$home/Vantry.ini"
  [ "$fast" = 1 ] && printf '[Transfer]\r\nFastTransfer=1\r\n' >>"$home/Vantry.ini"
  printf '[TLS]\r\nPort=%s\r\nCertificateFile=%s\r\nKeyFile=%s\r\nClientCAFile=%s\r\n' \
    "$tls_port" "$tls_dir/server.crt" "$tls_dir/server.key" "$tls_dir/ca.crt" >>"$home/Vantry.ini"
  if [ "$link" = loop ]; then
    start_vantryd "$vantryd" "$home"
  else
    start_vantryd "$vantryd" "$home" ip netns exec "w$side"
  fi
  pids+=("$VANTRYD_PID")
  printf -v "PORT_$name" %s "$VANTRYD_PORT"
  printf -v "TLS_$name" %s "$tls_port"
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
      in_a "$call" --port "${!port_var}" SendBackup 'D:\a\src.bin' "$host_b:$PORT_receiver" \
        'D:\b\dst.bin'
      ;;
    fast-tls | parts-tls)
      local port_var=PORT_${1%-tls}
      start=$(now)
      in_a "$call" --port "${!port_var}" SendBackup 'D:\a\src.bin' \
        "tls://$host_b:$TLS_receiver" 'D:\b\dst.bin'
      ;;
    push)
      start=$(now)
      in_a "$vantry" --server "$host_b:$PORT_receiver" push --progress=never \
        "$work/a/src.bin" 'D:\b\dst.bin' >/dev/null
      ;;
    socat)
      port=$(free_port)
      in_b socat -u -b 1048576 "TCP-LISTEN:$port,bind=$host_b,reuseaddr" \
        "OPEN:$work/b/dst.bin,creat,trunc" &
      listener=$!
      for _ in $(seq 100); do
        in_b ss -ltn "sport = :$port" | grep -q LISTEN && break
        sleep 0.02
      done
      start=$(now)
      in_a socat -u -b 1048576 "OPEN:$work/a/src.bin,rdonly" "TCP:$host_b:$port"
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
  if [ "$link" = loop ]; then
    host_b=127.0.0.1
  else
    delay=${link%%:*}
    rate=${link##*:}
    host_b=10.78.0.2
    bash "$link_sh" up "$delay" "$rate" >/dev/null
  fi
  rm -rf "$tls_dir"
  "$vantry" tls init "$tls_dir" --name "$host_b" >/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  start_instance receiver b 1
  start_instance fast a 1
  start_instance parts a 0
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
  if [ "$link" = loop ]; then
    line="loopback:"
  else
    line=$(printf 'link %s ms one way, %s Mbit/s:' "$delay" "$rate")
  fi
  for tool in "${tools[@]}"; do
    m=$(median ${times[$tool]})
    line+=$(printf '  %s %s MB/s (%.2fx)' "$tool" "$(mbps "$size_mb" "$m")" \
      "$(awk -v a="$socat_median" -v b="$m" 'BEGIN { print a / b }')")
  done
  echo "$line   load: $(cut -d' ' -f1-3 /proc/loadavg)"
  unset times
done
