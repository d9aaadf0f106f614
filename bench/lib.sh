# Shared by the benchmark scripts (sourced, not run).
#
# start_vantryd VANTRYD HOME [LAUNCHER...]: starts `LAUNCHER... VANTRYD --home HOME --port 0
# --verbose` in the background, its stderr in HOME/vantryd.log, and waits until it says where it
# listens. Sets VANTRYD_PID and VANTRYD_PORT; exits the script when it does not start in 10 s.
start_vantryd() {
  local vantryd=$1 home=$2
  shift 2
  "$@" "$vantryd" --home "$home" --port 0 --verbose 2>"$home/vantryd.log" &
  VANTRYD_PID=$!
  VANTRYD_PORT=
  for _ in $(seq 100); do
    VANTRYD_PORT=$(sed -n 's/^vantryd: running; .*; port \([0-9]*\);.*/\1/p' "$home/vantryd.log" |
      head -n 1)
    [ -n "$VANTRYD_PORT" ] && return 0
    sleep 0.1
  done
  echo "vantryd did not start:" >&2
  cat "$home/vantryd.log" >&2
  exit 1
}

# free_port: prints a TCP port of 127.0.0.1 that is free now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# stop_and_remove [DIR...]: kills every process in the array `pids` and waits for them, then
# removes the directories; the exit trap of the scripts that start instances.
stop_and_remove() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$@"
}
