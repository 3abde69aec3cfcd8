#!/usr/bin/env bash
# Runs every benchmark program in BIN_DIR.
set -euo pipefail
for b in "$1"/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_counters_tabular=true
done
