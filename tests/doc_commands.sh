#!/usr/bin/env bash
# The commands that the README and the man page show, taken from them as they stand and run
# against this build, in a private home: the schedule commands, the usage error, the jq example
# on a real result file and the man page itself. The journalctl commands run in real_journal.sh;
# the systemctl and apt commands need a user manager or a package install and are listed as not
# run here.
# Usage: doc_commands.sh <runner> <README> <man page>
set -u
runner=$1 readme=$2 manpage=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_STATE_HOME=$tmp/home/.local/state
export XDG_RUNTIME_DIR=$tmp/runtime NRV_PUBLIC_SOCKET=$tmp/no-daemon.sock
mkdir -p -m 700 "$HOME/Downloads" "$XDG_RUNTIME_DIR"
bin=$tmp/bin
mkdir -p "$bin"
ln -s "$(realpath "$runner")" "$bin/norvo-scheduled-scan"
export PATH=$bin:$PATH

# The README's line "$ <command>" whose command matches the pattern $1 (up to a comment), with
# the $2 output lines that follow it.
readme_example() {
  grep -E -A"$2" "^\\\$ $1( +#.*)?\$" "$readme"
}

# The schedule commands of the README's example.
command=$(readme_example "norvo-scheduled-scan --set-schedule custom .*" 0 | sed 's/^\$ //')
out=$(cd "$HOME" && bash -c "$command" 2>&1) || fail "README: $command: $out"
grep -qx "Target: $HOME/Downloads" <<<"$out" || fail "README: $command did not schedule ~/Downloads: $out"
grep -qx "Scan type: CustomScan" <<<"$out" || fail "README: $command: $out"
command=$(readme_example "norvo-scheduled-scan --show-schedule" 0 | sed 's/^\$ //; s/ *#.*//')
# The same, but for what setting did to the timer.
[ "$(bash -c "$command" 2>&1)" = "$(grep -v -e '^No user service manager answers' -e '^Timer set' <<<"$out")" ] ||
  fail "README: $command differs from what was set"

# The usage error, output and status as the README shows them.
example=$(readme_example "norvo-scheduled-scan --show-schedule --set-schedule full" 2)
command=$(head -n1 <<<"$example" | sed 's/^\$ //')
out=$(bash -c "$command" 2>&1)
status=$?
[ $status -eq 2 ] || fail "README: $command exited with $status"
[ "$out" = "$(tail -n +2 <<<"$example")" ] || fail "README: $command printed: $out"

# The jq example, on the result file of a run that found no daemon.
norvo-scheduled-scan >/dev/null 2>&1
command=$(grep -E '^jq ' "$readme")
[ -n "$command" ] || fail "README: no jq example"
if command -v jq >/dev/null; then
  out=$(cd "$HOME" && bash -c "${command//\~/$HOME}" 2>&1) || fail "README: $command: $out"
  grep -Eq '^not-started at [0-9T:.-]+Z: 0 threat\(s\), last complete scan never$' <<<"$out" ||
    fail "README: the jq example printed: $out"
else
  echo "jq is not installed: the README's jq example not run"
fi

# The man page, as the README says to read it.
if command -v man >/dev/null; then
  man -l "$manpage" >/dev/null 2>"$tmp/man.log" || fail "man -l: $(cat "$tmp/man.log")"
else
  echo "man is not installed: man -l not run"
fi
# The man page's synopsis forms, each accepted by the command line.
for args in "--help" "--version" "--show-schedule" "--set-schedule express" \
  "--set-schedule custom --include-user --include-system --include-boot-records --include-processes /srv"; do
  norvo-scheduled-scan $args >/dev/null 2>&1 || fail "norvo-scheduled-scan $args exited with $?"
done

[ $failed -eq 0 ] && echo "README and man page commands checked"
exit $failed
