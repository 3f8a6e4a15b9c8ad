#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts a simulated camera
# (camsim) on 127.0.0.1 with a committed clip, and lets the viewer's stream
# client (streamprobe) receive it for about 20 seconds, printing what arrives
# once a second. Then stops the camera.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${DEMO_SECONDS:-20}
clip=${DEMO_CLIP:-vga}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --no-fuzz

camsim="$root/build/tools/camsim/camsim"
probe="$root/build/tools/streamprobe/streamprobe"
out=$(mktemp)
camsim_pid=""
cleanup() {
  if [ -n "$camsim_pid" ] && kill -0 "$camsim_pid" 2>/dev/null; then
    kill -TERM "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || true
  fi
  rm -f "$out"
}
trap cleanup EXIT INT TERM

"$camsim" --port 0 --user admin --password admin "$clip" >"$out" &
camsim_pid=$!

# camsim prints "listening 127.0.0.1:PORT", then "ready".
for _ in $(seq 1 100); do
  grep -q '^ready' "$out" && break
  kill -0 "$camsim_pid" 2>/dev/null || { echo "camsim did not start" >&2; cat "$out" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out" | head -n 1)
if [ -z "$port" ]; then
  echo "camsim did not say where it listens" >&2
  exit 1
fi
echo "camsim: clip '$clip' on 127.0.0.1:$port"

"$probe" --port "$port" --user admin --password admin --seconds "$seconds" 127.0.0.1
