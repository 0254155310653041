# shellcheck shell=bash
# Sourced by the shell tests: start_lvtcamsim PROGRAM LOG starts a simulated camera on its own
# random loopback address and sets $sim_address and $sim_pid (stop_lvtcamsim ends it).
sim_pid=
sim_address=
start_lvtcamsim() {
  local program=$1 log=$2
  for _ in 1 2 3 4 5 6 7 8; do
    sim_address=127.$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1))
    "$program" "$sim_address" >"$log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
      grep -q "camera at" "$log" && return 0
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  done
  cat "$log" >&2
  return 1
}
stop_lvtcamsim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}
