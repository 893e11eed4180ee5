#!/usr/bin/env bash
# Formats each manual page as man(1) shows it and fails on any warning of
# the formatter or of the man macros, or on an empty page.
# Usage: man_test.sh PAGE...
set -euo pipefail

failed=0
for page in "$@"; do
  out="$(mktemp)" err="$(mktemp)"
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l "$page" >"$out" 2>"$err" || true
  # groff's strictest warning level catches what man's defaults let pass.
  groff -ww -man -z "$page" 2>>"$err" || true
  if [ -s "$err" ]; then
    echo "FAIL: $page: formatter warnings:" >&2
    cat "$err" >&2
    failed=1
  elif [ ! -s "$out" ]; then
    echo "FAIL: $page: empty output" >&2
    failed=1
  fi
  rm -f "$out" "$err"
done
exit "$failed"
