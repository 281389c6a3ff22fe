#!/usr/bin/env bash
# Checks the systemd user units with systemd's own verifier. systemd-analyze reports many faults
# only as text and still exits 0, so any output counts as a failure.
# Exit 77 (skipped) where systemd-analyze is not installed.
set -u
units_dir=$1
command -v systemd-analyze >/dev/null || exit 77
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
output=$(cd "$units_dir" && XDG_RUNTIME_DIR=$runtime systemd-analyze --user verify --man=no \
  ./norvo-scheduled-scan.service ./norvo-scheduled-scan.timer \
  ./norvo-scheduled-scan-catchup.service ./norvo-scheduled-scan-catchup.timer \
  ./norvo-scheduled-scan-sync.service ./norvo-scheduled-scan-sync.path 2>&1)
status=$?
if [ $status -ne 0 ] || [ -n "$output" ]; then
  printf '%s\n' "$output"
  exit 1
fi
