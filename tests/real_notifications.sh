#!/usr/bin/env bash
# The runner's desktop notification in a real notification daemon: dunst on a private session bus
# under Xvfb, the runner against the stand-in daemons, and what dunst showed read back with
# dunstctl history: a scan that finds a threat, a clean scan, a failed start, and nothing with the
# front-end's pop-ups switched off. A screenshot of each notification as shown and the history as
# JSON are kept in the output folder.
# Usage: real_notifications.sh <runner> <configd stand-in> <file-check stand-in> <configuration>
#                              <output folder>
# Exit 77 (skipped) where dunst, Xvfb, dbus-daemon, import or jq is missing or does not start.
set -u
runner=$1 configd=$2 filecheck=$3 config=$4 out=$5

skip() {
  echo "real notification daemon not available: $*"
  exit 77
}
for tool in dunst dunstctl Xvfb dbus-daemon import jq; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

tmp=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
wait_for() {
  for _ in $(seq 100); do
    eval "$1" && return 0
    sleep 0.05
  done
  return 1
}

# A display and a session bus of our own; nothing of the machine's desktop is touched.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
wait_for '[ -s "$tmp/display" ]' || skip "Xvfb did not start: $(head -c 300 "$tmp/xvfb.log")"
export DISPLAY=:$(cat "$tmp/display")
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$tmp/bus" 2>"$tmp/bus.log" &
pids+=($!)
wait_for '[ -s "$tmp/bus" ]' || skip "dbus-daemon did not start: $(head -c 300 "$tmp/bus.log")"
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$tmp/bus")
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_STATE_HOME=$tmp/state
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -p -m 700 "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
# Nothing expires by itself, so that the screenshot shows what the runner sent.
cat >"$tmp/dunstrc" <<'EOF'
[global]
    font = Monospace 9
    width = 600
    origin = top-left
    offset = 10x10
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
[urgency_critical]
    timeout = 0
EOF
dunst -config "$tmp/dunstrc" >"$tmp/dunst.log" 2>&1 &
pids+=($!)
wait_for 'dunstctl is-paused >/dev/null 2>&1' || skip "dunst did not start: $(head -c 300 "$tmp/dunst.log")"

mkdir -p "$tmp/tree/clean" "$tmp/tree/dirty"
echo hello >"$tmp/tree/clean/a.txt"
# The anti-virus test file, from two halves so that no file of ours holds it whole.
printf '%s%s\n' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR' '-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' \
  >"$tmp/tree/dirty/invoice.com"
"$filecheck" --socket "$tmp/fc.sock" --first-task-id 41 2>"$tmp/fc.log" &
pids+=($!)
"$configd" --socket "$tmp/configd.sock" --fcheck-socket "$tmp/fc.sock" --config "$config" \
  2>"$tmp/configd.log" &
pids+=($!)
wait_for '[ -S "$tmp/fc.sock" ] && [ -S "$tmp/configd.sock" ]' || { echo "the stand-ins did not start"; exit 1; }

mkdir -p "$out"
# Runs the runner with NRV_PUBLIC_SOCKET=$2 and the schedule of folder $3, takes a screenshot of
# what dunst shows, closes it and leaves dunst's history of the run in $out/$1.json.
run() {
  local name=$1 socket=$2 folder=$3
  "$runner" --set-schedule custom "$tmp/tree/$folder" >/dev/null 2>&1
  NRV_PUBLIC_SOCKET=$socket timeout 30 "$runner" 2>"$tmp/$name.log"
  wait_for '[ "$(dunstctl count displayed)" -gt 0 ]' || fail "$name: nothing shown"
  import -window root "$out/$name.png" 2>/dev/null || fail "$name: no screenshot"
  [ "$(dunstctl count displayed)" = 1 ] || fail "$name: more than one notification shown"
  local before
  before=$(dunstctl count history)
  dunstctl close-all
  wait_for '[ "$(dunstctl count history)" -gt "$before" ]' || fail "$name: nothing closed"
  # The newest first; this dunst has no command to clear the history between runs.
  dunstctl history >"$out/$name-history.json"
  jq '.data[0][0] | with_entries(.value |= .data)' "$out/$name-history.json" >"$out/$name.json"
}

# Checks that the notification of run $1 matches the jq filter $2.
expect() {
  jq -e --arg tree "$tmp/tree" "$2" "$out/$1.json" >/dev/null ||
    fail "$1: no notification with $2; dunst had: $(cat "$out/$1.json")"
}

run threat "$tmp/configd.sock" dirty
expect threat '.appname == "norvo-scheduled-scan" and .summary == "Scheduled scan: 1 threat found"
  and .body == $tree + "/dirty/invoice.com: EICAR-Test-File, reported (Success)"'
run clean "$tmp/configd.sock" clean
expect clean '.summary == "Scheduled scan: no threats found" and .body == "1 files scanned."'
run failed "$tmp/nobody.sock" clean
expect failed '.summary == "Scheduled scan could not start"
  and .body == "The Norvo anti-virus service is not running or did not answer."'

# The front-end's "show pop-ups" switch off: nothing is shown, threats or not.
"$runner" --set-schedule custom "$tmp/tree/dirty" >/dev/null 2>&1
printf '[%%General]\nPopUp=false\n' >>"$XDG_CONFIG_HOME/norvo/norvo-gui.conf"
before=$(dunstctl count history)
NRV_PUBLIC_SOCKET=$tmp/configd.sock timeout 30 "$runner" 2>"$tmp/no-popup.log"
sleep 0.3
[ "$(dunstctl count displayed)" = 0 ] && [ "$(dunstctl count history)" = "$before" ] ||
  fail "PopUp=false: a notification was shown"
grep -q "^Threat found:" "$tmp/no-popup.log" || fail "PopUp=false: the run found no threat"

[ $failed -eq 0 ] && echo "notifications checked: threat, clean and failed runs, and none with PopUp=false, in $out"
exit $failed
