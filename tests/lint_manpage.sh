#!/bin/sh
# Lints a hand-written man page with every linter present; any message fails. Exits 77 (skipped)
# when none is installed.
set -u
page=$1
checked=0
failed=0

if command -v groff >/dev/null 2>&1; then
  checked=1
  out=$(groff -ww -z -man "$page" 2>&1)
  if [ -n "$out" ]; then
    printf 'groff:\n%s\n' "$out"
    failed=1
  fi
fi
if command -v mandoc >/dev/null 2>&1; then
  checked=1
  out=$(mandoc -Tlint -Wstyle "$page" 2>&1)
  if [ -n "$out" ]; then
    printf 'mandoc:\n%s\n' "$out"
    failed=1
  fi
fi

if [ "$checked" -eq 0 ]; then
  echo "neither groff nor mandoc is installed: man page not linted"
  exit 77
fi
exit "$failed"
