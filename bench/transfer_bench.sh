#!/usr/bin/env bash
# Push throughput of SendBackup between two vantryd on loopback, against one TCP stream of
# socat -b 1048576 carrying the same file, and the memory of both instances during a 4 GiB push.
#
#   bench/transfer_bench.sh [BUILD_DIR]     (default: build; needs vantryd and bench/vantry-call)
#
# Figures, each the median of three rounds in which SendBackup and socat alternate:
#   tmpfs: source and target in /dev/shm, where a flush costs nothing (protocol cost);
#   disk:  source and target on the disk; socat is followed by an fsync of the copy, SendBackup
#          flushes the complete part before its rename (durable push);
#   tmpfs, target directory holding 10,000 other backups, against the empty directory.
# Environment: SIZE_MB (1024), ROUNDS (3), BIG_MB (4096, the memory push), DISK_DIR (a directory
# on the disk; default: beside the build directory), SETS (which figures: "tmpfs disk many memory").
set -euo pipefail
. "$(dirname "$0")/lib.sh"

build=$(realpath "${1:-build}")
size_mb=${SIZE_MB:-1024}
rounds=${ROUNDS:-3}
big_mb=${BIG_MB:-4096}
sets=" ${SETS:-tmpfs disk many memory} "
disk_base=${DISK_DIR:-$build/bench-disk}
vantryd=$build/vantryd
call=$build/bench/vantry-call

if ! command -v socat >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends socat >/dev/null
fi

work_shm=$(mktemp -d /dev/shm/vantry-bench-XXXXXX)
mkdir -p "$disk_base"
work_disk=$(mktemp -d "$disk_base/vantry-bench-XXXXXX")
pids=()
trap 'stop_and_remove "$work_shm" "$work_disk"' EXIT

# start_instance NAME: vantryd with D: -> $work_shm, E: -> $work_disk; sets PORT_<NAME>, PID_<NAME>.
start_instance() {
  local name=$1 home=$work_disk/home-$1
  mkdir -p "$home"
  printf '[Drives]\r\nD=%s\r\nE=%s\r\n' "$work_shm" "$work_disk" >"$home/Vantry.ini"
  start_vantryd "$vantryd" "$home"
  pids+=("$VANTRYD_PID")
  local port=$VANTRYD_PORT pid=$VANTRYD_PID
  printf -v "PORT_$name" %s "$port"
  printf -v "PID_$name" %s "$pid"
}

now() { date +%s.%N; }
mbps() { awk -v mb="$1" -v s="$2" 'BEGIN { printf "%.0f", mb / s }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# settle FILE: removes the copy of the run before and waits until the disk has done with it (the
# freed blocks are discarded at the next journal commit), so that no run pays for another's.
settle() {
  rm -f "$1"
  sync
}

# push_vantry SRC_DRIVE_PATH DST_DRIVE_PATH DST_HOST_PATH: seconds for one SendBackup.
push_vantry() {
  settle "$3"
  local start end
  start=$(now)
  "$call" --port "$PORT_sender" SendBackup "$1" "127.0.0.1:$PORT_receiver" "$2"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# push_socat SRC_HOST DST_HOST SYNC: seconds for one socat stream (and an fsync when SYNC=1).
push_socat() {
  settle "$2"
  local port start end
  port=$(free_port)
  socat -u -b 1048576 "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr" "OPEN:$2,creat,trunc" &
  local listener=$!
  for _ in $(seq 100); do ss -ltn "sport = :$port" | grep -q LISTEN && break; sleep 0.02; done
  start=$(now)
  socat -u -b 1048576 "OPEN:$1,rdonly" "TCP:127.0.0.1:$port"
  wait "$listener"
  [ "$3" = 1 ] && sync "$2"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# round_set LABEL SRC_DIR_HOST SRC_DRIVE DST_DIR_HOST DST_DRIVE SYNC: prints medians and ratio.
round_set() {
  local label=$1 src_host=$2/src.bin src_drive=$3\\src.bin
  local dst_host=$4/dst.bin dst_drive=$5\\dst.bin sync=$6
  local v=() s=()
  # Untimed: the first write of a gigabyte into memory never used before costs far more on a
  # virtual machine than every later one, whichever tool does it.
  push_vantry "$src_drive" "$dst_drive" "$dst_host" >/dev/null
  push_socat "$src_host" "$dst_host" "$sync" >/dev/null
  for r in $(seq "$rounds"); do
    for tool in $([ $((r % 2)) = 1 ] && echo vantry socat || echo socat vantry); do
      if [ "$tool" = vantry ]; then
        v+=("$(push_vantry "$src_drive" "$dst_drive" "$dst_host")")
      else
        s+=("$(push_socat "$src_host" "$dst_host" "$sync")")
      fi
      cmp -s "$src_host" "$dst_host" || { echo "$tool: copy differs in round $r" >&2; exit 1; }
    done
  done
  local mv ms
  mv=$(median "${v[@]}")
  ms=$(median "${s[@]}")
  printf '%-28s SendBackup %5s MB/s   socat %5s MB/s   ratio %.2f   (s: vantry %s; socat %s)\n' \
    "$label" "$(mbps "$size_mb" "$mv")" "$(mbps "$size_mb" "$ms")" \
    "$(awk -v a="$ms" -v b="$mv" 'BEGIN { print a / b }')" "${v[*]}" "${s[*]}"
  VANTRY_MEDIAN=$mv
}

start_instance sender
start_instance receiver

echo "file: $size_mb MiB of random bytes; $rounds alternating rounds; medians"
mkdir -p "$work_shm/a" "$work_shm/b" "$work_disk/a" "$work_disk/b"
head -c "$((size_mb * 1048576))" /dev/urandom >"$work_shm/a/src.bin"
cp "$work_shm/a/src.bin" "$work_disk/a/src.bin"

wants() { [[ $sets == *" $1 "* ]]; }

if wants tmpfs || wants many; then
  round_set "tmpfs (protocol cost)" "$work_shm/a" 'D:\a' "$work_shm/b" 'D:\b' 0
  empty_median=$VANTRY_MEDIAN
fi
if wants disk; then
  round_set "disk (durable push)" "$work_disk/a" 'E:\a' "$work_disk/b" 'E:\b' 1
fi
if wants many; then
  # The same push into a directory that holds 10,000 other backups.
  mkdir -p "$work_shm/c"
  (cd "$work_shm/c" && seq -f 'other%05g.fbk' 10000 | xargs touch)
  round_set "tmpfs, 10,000 files beside" "$work_shm/a" 'D:\a' "$work_shm/c" 'D:\c' 0
  printf '%-28s push into 10,000-file directory / into empty one: %.2f\n' "" \
    "$(awk -v a="$empty_median" -v b="$VANTRY_MEDIAN" 'BEGIN { print a / b }')"
fi
rm -f "$work_shm"/*/dst.bin "$work_disk/b/dst.bin" "$work_disk/a/src.bin"

wants memory || exit 0
# Memory: the peak resident set of both instances across a push of BIG_MB (a sparse source).
truncate -s "$((big_mb * 1048576))" "$work_shm/a/big.bin"
"$call" --port "$PORT_sender" SendBackup 'D:\a\big.bin' "127.0.0.1:$PORT_receiver" 'D:\b\big.bin'
for name in sender receiver; do
  pid_var=PID_$name
  printf 'peak resident set of the %-8s after a %d MiB push: %s\n' "$name" "$big_mb" \
    "$(awk '/VmHWM/ { printf "%.1f MiB", $2 / 1024 }' "/proc/${!pid_var}/status")"
done
