#!/usr/bin/env bash
# The runner's entries in a real journal: a private systemd-journald in a private mount namespace,
# the runner under systemd-cat against the stand-in daemons, and the entries read back with
# journalctl -o json: a failed start, a scan that finds a threat and a clean scan, each with its
# priority, message id and fields. The entries are kept as JSON in the output folder.
# The README's journalctl commands run against these entries too.
# Usage: real_journal.sh <runner> <configd stand-in> <file-check stand-in> <output folder> <README>
# Exit 77 (skipped) where a private journald cannot be set up.
set -u
runner=$1 configd=$2 filecheck=$3 out=$4 readme=$5
journald=/usr/lib/systemd/systemd-journald

skip() {
  echo "real journald not available: $*"
  exit 77
}

if [ -z "${NORVO_PRIVATE_JOURNAL:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root for a private mount namespace"
  for tool in unshare systemd-cat journalctl jq "$journald"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  unshare -m --propagation private true 2>/dev/null || skip "no private mount namespace here"
  NORVO_PRIVATE_JOURNAL=1 exec unshare -m --propagation private "$0" "$@"
fi

# From here on in the private namespace: the journal's sockets and files are ours alone.
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

mkdir -p /run/systemd /run/log
for dir in /run/systemd /run/log /var/log/journal; do
  [ -d "$dir" ] || continue
  mount -t tmpfs tmpfs "$dir" || skip "cannot mount a tmpfs on $dir"
done
mkdir -p /run/systemd/journal
"$journald" >"$tmp/journald.log" 2>&1 &
pids+=($!)
wait_for() {
  for _ in $(seq 100); do
    [ -e "$1" ] && return 0
    sleep 0.05
  done
  return 1
}
wait_for /run/systemd/journal/socket && wait_for /run/systemd/journal/stdout ||
  skip "systemd-journald did not start: $(head -c 300 "$tmp/journald.log")"

export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_STATE_HOME=$tmp/state
mkdir -p -m 700 "$HOME" "$tmp/runtime"
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -p "$tmp/tree/clean" "$tmp/tree/dirty"
echo hello >"$tmp/tree/clean/a.txt"
# The anti-virus test file, from two halves so that no file of ours holds it whole.
printf '%s%s\n' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR' '-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' \
  >"$tmp/tree/dirty/invoice.com"

"$filecheck" --socket "$tmp/fc.sock" --first-task-id 41 2>"$tmp/fc.log" &
pids+=($!)
"$configd" --socket "$tmp/configd.sock" --fcheck-socket "$tmp/fc.sock" 2>"$tmp/configd.log" &
pids+=($!)
wait_for "$tmp/fc.sock" && wait_for "$tmp/configd.sock" || { echo "the stand-ins did not start"; exit 1; }

# Runs the runner under systemd-cat with NRV_PUBLIC_SOCKET=$2 and the schedule of folder $3,
# and leaves its entries, as journalctl -o json writes them, in $out/$1.json.
run() {
  local name=$1 socket=$2 folder=$3
  "$runner" --set-schedule custom "$tmp/tree/$folder" >/dev/null 2>&1
  # systemd-cat connects the stream but, unlike a service manager, does not name it in
  # $JOURNAL_STREAM: the shell does, from the stream it got, and becomes the runner.
  # shellcheck disable=SC2016  # expanded by that shell
  NRV_PUBLIC_SOCKET=$socket systemd-cat -t norvo-scheduled-scan \
    sh -c 'JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec "$0"' "$runner" &
  local pid=$!
  wait "$pid"
  # The closing line is the run's last entry with a NORVO_OUTCOME; wait until journald has it.
  for _ in $(seq 100); do
    journalctl -o json _PID="$pid" >"$out/$name.json" 2>/dev/null
    jq -s -e 'map(select(.NORVO_OUTCOME != null)) | length > 0' "$out/$name.json" >/dev/null &&
      break
    sleep 0.05
  done
}

# Checks that run $1 has an entry with MESSAGE $2, PRIORITY $3 and the fields in the jq filter $4.
expect() {
  local name=$1 message=$2 priority=$3 fields=$4
  jq -s -e --arg m "$message" --arg p "$priority" \
    "map(select(.MESSAGE == \$m and .PRIORITY == \$p and $fields)) | length == 1" \
    "$out/$name.json" >/dev/null ||
    fail "$name: no entry \"$message\" at priority $priority with $fields"
}

# Checks that run $1 writes nothing at info or above after its closing line.
closing_is_last() {
  local after
  after=$(jq -s '[.[] | select((.PRIORITY | tonumber) <= 6)] | . as $e |
    [range(length) | select($e[.].NORVO_OUTCOME != null)] |
    if length == 1 then ($e | length) - 1 - .[0] else -1 end' "$out/$1.json")
  [ "$after" = 0 ] || fail "$1: $after entries at info or above after the closing line"
}

mkdir -p "$out"
run failed "$tmp/nobody.sock" clean
expect failed "ConfigD connection problem" 3 \
  '.MESSAGE_ID == "91f77e74c3724e9ea72dd21fbc0d6047" and .NORVO_OUTCOME == "not-started"
   and .SYSLOG_IDENTIFIER == "norvo-scheduled-scan" and .CODE_FILE == null'
closing_is_last failed

run threat "$tmp/configd.sock" dirty
expect threat "Threat found: \"$tmp/tree/dirty/invoice.com\": EICAR-Test-File, reported (Success)" 4 \
  ".MESSAGE_ID == \"501a46a9cc80440b8cb9df1b4623e2e6\" and .NORVO_TASK_ID == \"41\"
   and .NORVO_THREAT_FILE == \"$tmp/tree/dirty/invoice.com\"
   and .NORVO_THREAT_NAMES == \"EICAR-Test-File\" and .NORVO_THREAT_ACTION == \"reported\""
expect threat "Scheduled scan finished: task 41, final status 0 (Success), files scanned: 1, threats found: 1" 4 \
  '.MESSAGE_ID == "c41330ab485d44fd8a190c9d0346029b" and .NORVO_OUTCOME == "finished"
   and .NORVO_TASK_ID == "41" and .NORVO_THREATS_FOUND == "1"'
closing_is_last threat

run clean "$tmp/configd.sock" clean
expect clean "Scheduled scan finished: task 42, final status 0 (Success), files scanned: 1, threats found: 0" 5 \
  '.MESSAGE_ID == "c41330ab485d44fd8a190c9d0346029b" and .NORVO_THREATS_FOUND == "0"'
closing_is_last clean

# The debug trace is in the journal too, at its own priority.
expect threat "ConfigD is connected" 7 'true'

# The README's commands, as root reads them: its entries are in the system journal, not --user.
readme_command() {
  grep -F "journalctl --user -o json $1" "$readme" | sed 's/ --user//'
}
command=$(readme_command SYSLOG_IDENTIFIER=)
ends=$(bash -c "$command") || fail "README: $command"
[ "$ends" = "$(printf '%s\n' "not-started: ConfigD connection problem" \
  "finished: Scheduled scan finished: task 41, final status 0 (Success), files scanned: 1, threats found: 1" \
  "finished: Scheduled scan finished: task 42, final status 0 (Success), files scanned: 1, threats found: 0")" ] ||
  fail "README: $command gave: $ends"
command=$(readme_command MESSAGE_ID=)
files=$(bash -c "$command") || fail "README: $command"
[ "$files" = "$tmp/tree/dirty/invoice.com" ] || fail "README: $command gave: $files"

[ $failed -eq 0 ] && echo "journal entries checked: $(cat "$out"/*.json | wc -l) entries in $out"
exit $failed
