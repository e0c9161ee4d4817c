#!/usr/bin/env bash
# Runs every benchmark of a release build (never part of the tests).
set -euo pipefail
build=${1:-build}
shopt -s nullglob
for b in "$build"/bench/*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "${@:2}"
done
