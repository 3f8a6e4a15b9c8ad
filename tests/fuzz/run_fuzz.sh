#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded number of inputs: new inputs go to a
# scratch folder, the committed seeds (if any) are read only. The seed of the
# random mutations is fixed, so a run is repeatable: what passes here passes
# on every machine of the same kind, and a failure can be replayed.
set -euo pipefail
bin=$1 seeds=$2 seconds=$3 runs=${4:-30000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
args=("$scratch")
[ -d "$seeds" ] && args+=("$seeds")
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$bin" -seed=1 -runs="$runs" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$PWD/" "${args[@]}"
