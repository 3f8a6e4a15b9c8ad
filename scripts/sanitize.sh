#!/usr/bin/env bash
# Developer tool, not part of CI: builds the whole tree with gcc's
# AddressSanitizer + UndefinedBehaviorSanitizer into build-asan/ (or, with
# --thread, ThreadSanitizer into build-tsan/) and runs every test there except
# the fuzz targets (they have their own sanitized clang build).
#
# Reports go to per-process log files rather than stderr, because many tests
# start helper processes (camsim, viewer-headless) whose stderr a test never
# looks at; a finding in a helper still fails this script.
#
# Usage: scripts/sanitize.sh [--thread] [extra ctest arguments...]
# Exit status: 0 when every test passed and no sanitizer reported anything.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
mode=asan
if [ "${1:-}" = "--thread" ]; then mode=tsan; shift; fi

supp="$root/tests/sanitizers"
if [ "$mode" = tsan ]; then
  build="$root/build-tsan"
  flags="-fsanitize=thread -fno-omit-frame-pointer"
else
  build="$root/build-asan"
  flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCAMVIEWER_FUZZ_BIN_DIR= >/dev/null || exit 1
cmake --build "$build" -j"$jobs" || exit 1

logs="$build/sanitizer-logs"
rm -rf "$logs"
mkdir -p "$logs"
common="log_path=$logs/report:print_stacktrace=1"
export UBSAN_OPTIONS="$common:halt_on_error=1:suppressions=$supp/ubsan.supp"
export ASAN_OPTIONS="$common:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="$common:suppressions=$supp/lsan.supp"
export TSAN_OPTIONS="$common:halt_on_error=0:second_deadlock_stack=1:suppressions=$supp/tsan.supp"

cd "$build" || exit 1
ctest --output-on-failure -j"$jobs" --timeout 900 -LE fuzz "$@"
status=$?

shopt -s nullglob
reports=("$logs"/report*)
if [ ${#reports[@]} -gt 0 ]; then
  echo "== ${#reports[@]} sanitizer report(s) in $logs =="
  for r in "${reports[@]}"; do
    echo "---- $r"
    head -n 60 "$r"
  done
  status=1
fi
[ "$status" -eq 0 ] && echo "sanitize ($mode): clean"
exit "$status"
