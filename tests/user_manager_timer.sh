#!/usr/bin/env bash
# The schedule's timer under a real systemd user manager: the units installed as the package
# installs them, enabled with the README's command, follow what the front-end's QSettings code
# writes, within seconds and with no command; the service scans with the schedule on and contacts
# nothing with it off. The manager runs in a private mount namespace with a tmpfs on /run/systemd,
# so it takes itself for a user manager of a booted system; its dbus.socket is the session bus.
# Exit 77 (skipped) where that cannot be had: not root, or no mount namespace.
set -u
build=$1 cmake=$2 frontend=$3 configd=$4 filecheck=$5 config=$6
manager=/usr/lib/systemd/systemd
skip() {
  echo "SKIP: $*"
  exit 77
}

if [ "${NORVO_PRIVATE_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || skip "a private systemd user manager needs root (a mount namespace)"
  [ -x $manager ] && command -v systemctl >/dev/null || skip "systemd is not installed"
  unshare -m --propagation private true 2>/dev/null || skip "unshare -m fails here"
  NORVO_PRIVATE_NAMESPACE=1 exec unshare -m --propagation private "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/norvo-user-manager.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
# Polls a condition every 0.1 s for at most $1 seconds.
within() {
  local limit=$(($1 * 10))
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

mount -t tmpfs tmpfs /run/systemd || skip "cannot mount a tmpfs on /run/systemd"
mkdir /run/systemd/system
# As the package installs it, under the default prefix, which this namespace alone sees.
DESTDIR=$work/root "$cmake" --install "$build" --prefix /usr/local --component scanner >/dev/null ||
  exit 1
mount --bind "$work/root/usr/local" /usr/local || exit 1
runner=/usr/local/bin/norvo-scheduled-scan

export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime LC_ALL=C.UTF-8 SYSTEMD_PAGER=
unset XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME DBUS_SESSION_BUS_ADDRESS
mkdir -p "$HOME/.local/share/systemd/user" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$work/root/usr/local/lib/systemd/user/"* "$HOME/.local/share/systemd/user/"
# The services' output, which would go to a journal that this namespace lacks.
for service in norvo-scheduled-scan norvo-scheduled-scan-sync; do
  mkdir -p "$HOME/.config/systemd/user/$service.service.d"
  printf '[Service]\nStandardOutput=append:%s\nStandardError=append:%s\n' \
    "$work/$service.log" "$work/$service.log" \
    >"$HOME/.config/systemd/user/$service.service.d/test-log.conf"
done
env -i HOME="$HOME" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  $manager --user >"$work/manager.log" 2>&1 &
pids+=($!)
within 10 test -S "$XDG_RUNTIME_DIR/systemd/private" || {
  cat "$work/manager.log"
  exit 1
}
timeout 20 systemctl --user is-system-running --wait >/dev/null

drop_in=$HOME/.config/systemd/user/norvo-scheduled-scan.timer.d/override.conf
settings=$HOME/.config/norvo/norvo-gui.conf
timer=norvo-scheduled-scan.timer
next_elapse() { systemctl --user show $timer -p NextElapseUSecRealtime --value; }
# The timer's next elapse lies within the randomized delay after the calendar event's next slot.
follows() {
  local slot next
  slot=$(date -d "$(systemd-analyze calendar "$1" | sed -n 's/^ *Next elapse: //p')" +%s)
  next=$(next_elapse)
  [ -n "$next" ] && next=$(date -d "$next" +%s) &&
    [ "$next" -ge "$slot" ] && [ "$next" -le $((slot + 300)) ]
}
never() { [ -z "$(next_elapse)" ] && systemctl --user is-active --quiet $timer; }
sync_idle() { ! systemctl --user is-active --quiet norvo-scheduled-scan-sync.service; }
# Each change as a person makes it, after the sync of the one before has ended.
frontend() {
  within 10 sync_idle
  "$frontend" "$@"
}

systemctl --user daemon-reload
# The README's command.
systemctl --user enable --now norvo-scheduled-scan.timer norvo-scheduled-scan-catchup.timer \
  2>/dev/null || fail "the README's enable command failed"
within 10 test -f "$drop_in" && within 5 never ||
  fail "with no settings file the timer does not stay idle: next $(next_elapse)"

# Days two and four days from now, so that the first slot is not today's.
day1=$(date -d '+2 days' +%u) day2=$(date -d '+4 days' +%u)
names=$(for d in $(printf '%s\n' "$day1" "$day2" | sort -n); do
  date -d "2024-01-0$d" +%a
done | paste -sd,)
frontend on 07:30 "$day1,$day2"
within 10 follows "$names *-*-* 07:30:00" ||
  fail "first schedule: next elapse $(next_elapse), not at $names 07:30"
echo "--- settings file written by QSettings:"
cat "$settings"
echo "--- drop-in:"
cat "$drop_in"
echo "--- list-timers, before the change:"
systemctl --user list-timers --all $timer

frontend on 23:45 1,2,3,4,5,6,7
within 10 follows "*-*-* 23:45:00" || fail "second schedule: next elapse $(next_elapse)"
echo "--- list-timers, after the change:"
systemctl --user list-timers --all $timer

# The front-end saving its window's place leaves the schedule, and the timer, as they were.
sync_log=$work/norvo-scheduled-scan-sync.log
before=$(stat -c %Y.%i "$drop_in")
within 10 sync_idle
syncs=$(wc -l <"$sync_log")
frontend --window 40,50
synced_again() { [ "$(wc -l <"$sync_log")" -gt "$syncs" ]; }
within 10 synced_again || fail "no sync after the window was saved"
[ "$(tail -n1 "$sync_log")" = "Timer unchanged: every day at 23:45" ] ||
  fail "the window's place changed the timer: $(tail -n1 "$sync_log")"
[ "$(stat -c %Y.%i "$drop_in")" = "$before" ] || fail "the drop-in was rewritten"
echo "--- sync service's log:"
cat "$sync_log"

# A time of day that has passed today is the next day's, not a run missed since the last one.
touch -d '-1 day' "$HOME/.local/share/systemd/timers/stamp-$timer"
earlier=$(date -d '-1 hour' +%H:%M)
frontend on "$earlier" 1,2,3,4,5,6,7
within 10 follows "*-*-* $earlier:00" || fail "$earlier daily: next elapse $(next_elapse)"
[ "$(systemctl --user show norvo-scheduled-scan.service -p ExecMainStartTimestampMonotonic \
  --value)" = 0 ] || fail "a new time of day started a scan at once"

# The scan as the timer starts it, against the stand-in daemons.
mkdir -p "$work/tree/docs" && echo hello >"$work/tree/docs/letter.txt"
"$filecheck" --socket "$work/fc.sock" 2>"$work/filecheck.log" &
pids+=($!)
"$configd" --socket "$work/public.sock" --config "$config" --fcheck-socket "$work/fc.sock" \
  --record "$work/configd.record" 2>"$work/configd.log" &
pids+=($!)
within 5 test -S "$work/public.sock" -a -S "$work/fc.sock" ||
  fail "the stand-ins do not listen: $(cat "$work/filecheck.log" "$work/configd.log")"
systemctl --user set-environment NRV_PUBLIC_SOCKET="$work/public.sock" \
  DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus"
echo "--- --set-schedule custom:"
"$runner" --set-schedule custom "$work/tree" --at 06:00 --days mon,fri 2>&1 |
  tee "$work/set.out"
grep -qx "Timer set: Mondays and Fridays at 06:00" "$work/set.out" ||
  fail "--set-schedule did not update the timer"
within 10 follows "Mon,Fri *-*-* 06:00:00" || fail "--set-schedule: next elapse $(next_elapse)"
echo "--- --show-schedule:"
"$runner" --show-schedule 2>&1 | tee "$work/show.out"
grep -q "^Runs: Mondays and Fridays at 06:00$" "$work/show.out" || fail "no Runs: line"
grep -q "^Next run: [A-Z][a-z][a-z] 20" "$work/show.out" || fail "no Next run: from the manager"

scan_log=$work/norvo-scheduled-scan.log
run_service() {
  : >"$scan_log"
  systemctl --user start norvo-scheduled-scan.service
  within 20 eval '! systemctl --user is-active --quiet norvo-scheduled-scan.service' || {
    fail "the service did not end"
    systemctl --user stop norvo-scheduled-scan.service
  }
}
run_service
grep -q "^Scheduled scan finished: task .*, final status 0" "$scan_log" ||
  fail "the service with the schedule on did not scan: $(cat "$scan_log")"
result=$HOME/.local/state/norvo/scheduled-scan.json
[ -f "$result" ] || fail "no result file"
cp "$result" "$work/result.before"
: >"$work/configd.record"

echo "--- --set-schedule off:"
"$runner" --set-schedule off 2>&1 | tee "$work/off.out" | grep -E '^(Timer|Runs|Next run)'
within 10 never || fail "schedule off: next elapse $(next_elapse)"
run_service
[ "$(cat "$scan_log")" = "Scheduled scan not needed: the schedule is off" ] ||
  fail "the service with the schedule off wrote: $(cat "$scan_log")"
[ ! -s "$work/configd.record" ] || fail "the service with the schedule off contacted ConfigD"
cmp -s "$result" "$work/result.before" || fail "the schedule off rewrote the result file"
echo "--- list-timers, schedule off:"
systemctl --user list-timers --all $timer

exit $failed
