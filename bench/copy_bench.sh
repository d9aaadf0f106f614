#!/usr/bin/env bash
# Durable copy on the disk: CopyFile of one file through vantryd (the copy is written beside the
# target, flushed, renamed over it and its directory flushed) against `cp` followed by
# `sync -f` of the copy, in alternating rounds of one run.
#
#   bench/copy_bench.sh [BUILD_DIR]     (default: build; needs vantryd and vantry)
#
# Prints the median seconds of each and their ratio (CopyFile / cp + sync; the goal is <= 1.1),
# and for reference `cp` alone, which leaves the data in memory: the difference is the flush.
# Environment: SIZE_MB (1024), ROUNDS (5), DISK_DIR (a directory on the disk; default: beside
# the build directory).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

build=$(realpath "${1:-build}")
size_mb=${SIZE_MB:-1024}
rounds=${ROUNDS:-5}
disk_base=${DISK_DIR:-$build/bench-disk}

mkdir -p "$disk_base"
work=$(mktemp -d "$disk_base/vantry-copy-bench-XXXXXX")
cleanup() {
  [ -n "${VANTRYD_PID:-}" ] && kill "$VANTRYD_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/a" "$work/b"
printf '[Drives]\r\nE=%s\r\n' "$work" >"$work/home/Vantry.ini"
start_vantryd "$build/vantryd" "$work/home"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { print b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

src=$work/a/src.bin
dst=$work/b/dst.bin
# settle: removes the copy of the round before and waits until the disk has done with it, so
# that no round pays for another's.
settle() {
  rm -f "$dst"
  sync
}
copy_vantry() {
  settle
  local start
  start=$(now)
  "$build/vantry" --server "127.0.0.1:$VANTRYD_PORT" cp 'E:\a\src.bin' 'E:\b\dst.bin' >/dev/null
  since "$start"
}
# copy_cp SYNC: `cp`, followed by `sync -f` of the copy when SYNC is 1.
copy_cp() {
  settle
  local start
  start=$(now)
  cp "$src" "$dst"
  [ "$1" = 1 ] && sync -f "$dst"
  since "$start"
}

echo "file: $size_mb MiB of random bytes on $(df --output=source "$work" | tail -n 1);" \
  "$rounds alternating rounds; medians"
head -c "$((size_mb * 1048576))" /dev/urandom >"$src"
sync
# Untimed: one of each first, so that neither pays for the first touch of the page cache.
copy_vantry >/dev/null
copy_cp 1 >/dev/null
v=() c=() n=()
for r in $(seq "$rounds"); do
  for tool in $([ $((r % 2)) = 1 ] && echo vantry cp nosync || echo nosync cp vantry); do
    case $tool in
      vantry) v+=("$(copy_vantry)") ;;
      cp) c+=("$(copy_cp 1)") ;;
      nosync) n+=("$(copy_cp 0)") ;;
    esac
    cmp -s "$src" "$dst" || { echo "$tool: copy differs in round $r" >&2; exit 1; }
  done
done
mv=$(median "${v[@]}")
mc=$(median "${c[@]}")
printf 'CopyFile %.2f s   cp + sync -f %.2f s   ratio %.2f   (cp alone %.2f s)\n' "$mv" "$mc" \
  "$(awk -v a="$mv" -v b="$mc" 'BEGIN { print a / b }')" "$(median "${n[@]}")"
printf '  s: CopyFile %s; cp + sync -f %s; cp alone %s\n' "${v[*]}" "${c[*]}" "${n[*]}"
