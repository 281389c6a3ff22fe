#!/usr/bin/env bash
# Checks the times of each timer unit with systemd's own parsers. The verifier only warns about a
# time it cannot read and says nothing of one that never comes (February 30th) or comes at once.
# Exit 77 (skipped) where systemd-analyze is not installed.
set -u
units_dir=$1
command -v systemd-analyze >/dev/null || exit 77
failed=0
fail() {
  printf '%s: %s\n' "$1" "$2"
  failed=1
}
for timer in "$units_dir"/*.timer; do
  checked=0
  while IFS='=' read -r key value; do
    case $key in
      OnCalendar)
        checked=1
        if ! output=$(systemd-analyze calendar "$value" 2>&1); then
          fail "$timer" "$output"
        elif grep -q 'Next elapse: never' <<<"$output"; then
          fail "$timer" "OnCalendar=$value never elapses"
        fi
        ;;
      OnStartupSec | OnBootSec | OnActiveSec | OnUnitActiveSec | OnUnitInactiveSec)
        checked=1
        if ! output=$(systemd-analyze timespan "$value" 2>&1); then
          fail "$timer" "$output"
        elif grep -qx ' *μs: 0' <<<"$output"; then
          fail "$timer" "$key=$value elapses at once"
        fi
        ;;
    esac
  done <"$timer"
  [ $checked -eq 1 ] || fail "$timer" "no OnCalendar= or On...Sec= setting"
done
exit $failed
