#!/usr/bin/env bash
# `make demo`'s script: it starts the simulator and the tool with 串口1 opened
# and acquisition running, with no click (frames reach the record), says so in
# one line, keeps the last record, and leaves nothing behind when stopped.
# Usage: check-demo.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1"
build="$2"
home="$(mktemp -d /tmp/telvar-demo-test-XXXXXX)"
pgid=""
cleanup() {
  [ -n "$pgid" ] && kill -KILL -- "-$pgid" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$home/out" ] && cat "$home/out" >&2; exit 1; }

printf 'an earlier record\r\n' >"$home/Telvar-Record.dat"
# As from a terminal: SIGINT not ignored, as it is for a background job.
HOME="$home" QT_QPA_PLATFORM=offscreen setsid env --default-signal=INT "$src/scripts/demo" "$build" >"$home/out" 2>&1 &
pgid=$!

lines=0
for _ in $(seq 300); do
  lines=$( (wc -l <"$home/Telvar-Record.dat") 2>/dev/null || echo 0)
  [ "$lines" -gt 50 ] && break
  sleep 0.05
done
[ "$lines" -gt 50 ] || fail "no frames recorded ($lines lines)"

# The tool runs with the options, on the simulator's device.
tool_pid="$(pgrep -g "$pgid" -x telvar || true)"
[ -n "$tool_pid" ] || fail "no telvar in the demo's process group"
args="$(tr '\0' ' ' <"/proc/$tool_pid/cmdline")"
[ "$args" = "$build/app/telvar --port 1 --open --start " ] || fail "tool started as: $args"
link="$(tr '\0' '\n' <"/proc/$tool_pid/environ" | sed -n 's/^TELVAR_COM1=//p')"
[ -L "$link" ] || fail "TELVAR_COM1 is no link to the simulator: $link"
pgrep -g "$pgid" -x telvar-boxsim >/dev/null || fail "no simulator in the demo's process group"

grep -q '^Telvar demo: a simulated box on 串口1 .*both gauges turning.*stop with 退出' "$home/out" \
  || fail "the line on what is shown"
[ "$(cat "$home/Telvar-Record.dat.before-demo")" = $'an earlier record\r' ] || fail "the last record was not kept"

# Ctrl+C in the terminal: every process of the demo ends, the link goes.
kill -INT -- "-$pgid"
for _ in $(seq 100); do
  pgrep -g "$pgid" >/dev/null || break
  sleep 0.05
done
pgrep -g "$pgid" >/dev/null && fail "processes left after Ctrl+C: $(pgrep -a -g "$pgid")"
pgid=""
[ -e "$link" ] && fail "the simulator's link is left: $link"
echo "demo ok: $lines lines recorded"
