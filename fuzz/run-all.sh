#!/usr/bin/env bash
# Runs every fuzz target in BIN_DIR for SECONDS each, seeded with its corpus and regression inputs.
# Fails on the first crash, leak or timeout.
set -euo pipefail
bin_dir=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
for target in "$bin_dir"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    work=$(mktemp -d)
    seeds=()
    for d in "$here/corpus/$name" "$here/regressions/$name"; do
        [ -d "$d" ] && seeds+=("$d")
    done
    echo "== $name (${seconds}s)"
    # Regression inputs first, one by one, so a regression fails with its own name.
    if [ -d "$here/regressions/$name" ]; then
        find "$here/regressions/$name" -type f -print0 | xargs -0 -r "$target" -runs=1 >/dev/null 2>&1 ||
            { echo "$name: a regression input fails"; find "$here/regressions/$name" -type f -print0 | xargs -0 -r "$target"; exit 1; }
    fi
    "$target" "$work" "${seeds[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" 2>&1 | tail -n 12
    rm -rf "$work"
done
