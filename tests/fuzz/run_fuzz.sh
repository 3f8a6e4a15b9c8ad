#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time: new inputs go to a scratch
# folder, the committed seeds (if any) are read only.
set -euo pipefail
bin=$1 seeds=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
args=("$scratch")
[ -d "$seeds" ] && args+=("$seeds")
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 "${args[@]}"
