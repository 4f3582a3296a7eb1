#!/usr/bin/env bash
# The tool under a Wayland compositor (weston, headless): its window appears,
# `--port 1 --open --start` against the simulated box records frames, and a
# click on 退出 ends it cleanly. Exits 77 (skipped) when weston cannot start.
# Usage: check-weston.sh BUILD_DIR
set -euo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
skip() { echo "SKIP: $*"; exit 77; }
command -v weston >/dev/null || skip "no weston"
command -v dbus-run-session >/dev/null || skip "no dbus-run-session"
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "no python3-pyatspi"

if [ -z "${TELVAR_IN_SESSION:-}" ]; then
  # A session bus of its own, for the accessibility bus.
  exec env TELVAR_IN_SESSION=1 dbus-run-session -- "$0" "$@"
fi

work="$(mktemp -d /tmp/telvar-weston-XXXXXX)"
chmod 700 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in weston.log tool.log; do [ -f "$work/$f" ] && { echo "--- $f" >&2; tail -20 "$work/$f" >&2; }; done
  exit 1
}

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
socket="telvar-test"
weston --backend=headless-backend.so --socket="$socket" --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -S "$XDG_RUNTIME_DIR/$socket" ] && break
  kill -0 "${pids[0]}" 2>/dev/null || break
  sleep 0.05
done
[ -S "$XDG_RUNTIME_DIR/$socket" ] || skip "weston did not start: $(tail -3 "$work/weston.log" | tr '\n' ' ')"

link="$work/box"
"$build/tools/boxsim/telvar-boxsim" --link "$link" --speed1 30 --speed2 -12 --exit-on-close >/dev/null &
sim_pid=$!
pids+=($sim_pid)
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || fail "the simulator did not start"

mkdir "$work/home"
record="$work/home/Telvar-Record.dat"
env -u DISPLAY WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  HOME="$work/home" TELVAR_COM1="$link" \
  "$build/app/telvar" --port 1 --open --start >"$work/tool.log" 2>&1 &
tool_pid=$!
pids+=($tool_pid)

/usr/bin/python3 "$here/atspi.py" window telvar Korvane 30 || fail "the window did not appear"
lines=0
for _ in $(seq 200); do
  lines=$( (wc -l <"$record") 2>/dev/null || echo 0)
  [ "$lines" -gt 50 ] && break
  sleep 0.05
done
[ "$lines" -gt 50 ] || fail "no frames recorded ($lines lines)"

/usr/bin/python3 "$here/atspi.py" click telvar 退出 || fail "cannot click 退出"
status=0
for _ in $(seq 200); do kill -0 "$tool_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$tool_pid" 2>/dev/null && fail "the tool did not end after 退出"
wait "$tool_pid" || status=$?
[ "$status" -eq 0 ] || fail "the tool ended with status $status"
# The port was let go: the simulator ends by itself when its device is closed.
for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$sim_pid" 2>/dev/null && fail "the device was not closed"
grep -qi "could not\|failed to create" "$work/tool.log" && fail "the tool reported a failure"
echo "wayland ok: $lines lines recorded, clean exit"
