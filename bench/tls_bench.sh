#!/usr/bin/env bash
# TLS against clear text, on loopback: SendBackup of a file between two vantryd over their TLS
# and their plaintext ports (tmpfs, medians of alternating rounds), small calls from vantry-load
# (16 clients, a connection per call, TLS sessions resumed) against both ports, and the resident
# memory of a vantryd holding 2,000 connections stalled in the TLS handshake.
#
#   bench/tls_bench.sh [BUILD_DIR]     (default: build; needs vantryd, vantry, bench/vantry-call
#                                       and bench/vantry-load)
# Environment: SIZE_MB (1024), ROUNDS (3), SECONDS_LOAD (5), STALLED (2000).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

build=$(realpath "${1:-build}")
size_mb=${SIZE_MB:-1024}
rounds=${ROUNDS:-3}
load_seconds=${SECONDS_LOAD:-5}
stalled=${STALLED:-2000}
call=$build/bench/vantry-call
load=$build/bench/vantry-load

work=$(mktemp -d /dev/shm/vantry-tls-bench-XXXXXX)
pids=()
trap 'stop_and_remove "$work"' EXIT

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

"$build/vantry" tls init "$work/tls" --name bench >/dev/null

# start_instance NAME: vantryd with D: -> $work/data and a TLS port; sets PORT_, TLS_, PID_<NAME>.
start_instance() {
  local name=$1 home=$work/home-$1 tls_port
  tls_port=$(free_port)
  mkdir -p "$home"
  {
    printf '[Drives]\nD=%s\n' "$work/data"
    printf '[TLS]\nPort=%s\nCertificateFile=%s\nKeyFile=%s\nClientCAFile=%s\n' "$tls_port" \
      "$work/tls/server.crt" "$work/tls/server.key" "$work/tls/ca.crt"
    printf 'AllowedClientNames=operator,bench\n'
  } >"$home/Vantry.ini"
  start_vantryd "$build/vantryd" "$home"
  pids+=("$VANTRYD_PID")
  printf -v "PORT_$name" %s "$VANTRYD_PORT"
  printf -v "TLS_$name" %s "$tls_port"
  printf -v "PID_$name" %s "$VANTRYD_PID"
}

start_instance sender
start_instance receiver
mkdir -p "$work/data"
head -c "$((size_mb * 1048576))" /dev/urandom >"$work/data/src.bin"

# push TARGET: seconds for one SendBackup of src.bin to TARGET.
push() {
  rm -f "$work/data/dst.bin"
  local start end
  start=$(now)
  "$call" --port "$PORT_sender" SendBackup 'D:\src.bin' "$1" 'D:\dst.bin'
  end=$(now)
  cmp -s "$work/data/src.bin" "$work/data/dst.bin" || { echo "copy differs" >&2; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

clear_target="127.0.0.1:$PORT_receiver"
tls_target="tls://localhost:$TLS_receiver"
push "$clear_target" >/dev/null  # untimed: first use of the memory
push "$tls_target" >/dev/null
c=() t=()
for r in $(seq "$rounds"); do
  if ((r % 2)); then c+=("$(push "$clear_target")"); t+=("$(push "$tls_target")")
  else t+=("$(push "$tls_target")"); c+=("$(push "$clear_target")"); fi
done
mc=$(median "${c[@]}")
mt=$(median "${t[@]}")
printf 'transfer %d MiB, tmpfs:   clear %5.0f MB/s   TLS %5.0f MB/s   ratio %.2f   (s: clear %s; TLS %s)\n' \
  "$size_mb" "$(awk -v m="$size_mb" -v s="$mc" 'BEGIN { print m / s }')" \
  "$(awk -v m="$size_mb" -v s="$mt" 'BEGIN { print m / s }')" \
  "$(awk -v a="$mc" -v b="$mt" 'BEGIN { print a / b }')" "${c[*]}" "${t[*]}"
rm -f "$work/data/src.bin" "$work/data/dst.bin"

# Small calls: the probe, a connection per call.
rate() { sed -n 's/^calls_per_s=\([0-9]*\).*/\1/p'; }
clear_rate=$("$load" --clients 16 --seconds "$load_seconds" --port "$PORT_receiver" | rate)
tls_rate=$("$load" --clients 16 --seconds "$load_seconds" --port "$TLS_receiver" \
  --tls "$work/tls" | rate)
printf 'small calls, 16 clients: clear %s calls/s   TLS (resumed) %s calls/s   ratio %.2f\n' \
  "$clear_rate" "$tls_rate" "$(awk -v a="$clear_rate" -v b="$tls_rate" 'BEGIN { print b / a }')"

# Stalled handshakes: each sends the start of a ClientHello and nothing more; the handshake
# limit (10 s) ends them, so the peak is sampled within it.
rss() { awk '/VmRSS/ { print $2 }' "/proc/$PID_receiver/status"; }
before=$(rss)
"$load" --clients 0 --stall "$stalled" --seconds 8 --port "$TLS_receiver" >/dev/null &
holder=$!
peak=$before
for _ in $(seq 40); do
  kill -0 "$holder" 2>/dev/null || break
  now_rss=$(rss)
  ((now_rss > peak)) && peak=$now_rss
  sleep 0.2
done
wait "$holder"
printf '%d stalled TLS handshakes: resident %.1f MiB (before %.1f MiB)\n' "$stalled" \
  "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$(awk -v k="$before" 'BEGIN { print k / 1024 }')"
