#!/usr/bin/env bash
# Configures and builds everything into build/ (and the fuzz targets into
# build-fuzz/ with clang's sanitizers, unless --no-fuzz). Assumes
# install-deps.sh ran.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
fuzz=1
# A compiler cache, where installed, makes rebuilds of an unchanged tree cheap.
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
[ "${1:-}" = "--no-fuzz" ] && fuzz=0

if [ "$fuzz" = 1 ] && command -v clang++ >/dev/null 2>&1; then
  cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCAMVIEWER_FUZZ=ON -DCAMVIEWER_QT=OFF "${launcher[@]}" >/dev/null
  cmake --build "$root/build-fuzz" -j"$jobs"
  fuzz_dir="$root/build-fuzz/tests/fuzz"
else
  fuzz_dir=""
fi

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAMVIEWER_FUZZ_BIN_DIR="$fuzz_dir" "${launcher[@]}" >/dev/null
cmake --build "$root/build" -j"$jobs"
