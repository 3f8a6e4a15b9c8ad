#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts a simulated camera
# (camsim) on 127.0.0.1 with a committed clip, writes a param.dat into a
# temporary program folder with that camera playing on channel 1 and a
# schedule window covering the whole day, and runs the viewer without a
# display (viewer-headless) for about 20 seconds: it prints each playing
# camera's state once a second while the schedule records. Then it lists the
# recorded files and has ffprobe read one. DEMO_KEEP=1 keeps the folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${DEMO_SECONDS:-20}
clip=${DEMO_CLIP:-vga}
mac=000e53000001

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --no-fuzz

camsim="$root/build/bin/camsim"
viewer="$root/build/bin/viewer-headless"
out=$(mktemp)
folder=$(mktemp -d)
camsim_pid=""
cleanup() {
  if [ -n "$camsim_pid" ] && kill -0 "$camsim_pid" 2>/dev/null; then
    kill -TERM "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || true
  fi
  rm -f "$out"
  if [ -n "${DEMO_KEEP:-}" ]; then echo "kept: $folder"; else rm -rf "$folder"; fi
}
trap cleanup EXIT INT TERM

"$camsim" --port 0 --user admin --password admin --mac "$mac" "$clip" >"$out" &
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

# One camera on channel 1, playing at the last exit (so AutoPlay starts it),
# unmuted, every zone of the 3x3 grid watched; one schedule window, every day
# from 00:00 for 1440 minutes, so the camera records whenever this runs.
zones="1|1|1|1|1|1|1|1|1|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0"
{
  echo "AutoPlay=1"
  echo "AutoRun=0"
  echo "InstanceTime=1"
  echo "MotionTime=1"
  echo "JpegRatio=80"
  echo "CamInfo=demo|127.0.0.1|$port|$mac|simulated camera|admin|admin|1|1|0|0|0|1|0|0|0|$zones|0|3\\"
  echo "CamSchedule=${mac}0|1|0|1|0|1440\\"
} >"$folder/param.dat"
chmod 600 "$folder/param.dat"

"$viewer" --folder "$folder" --seconds "$seconds"

echo
echo "recorded files:"
ls -l "$folder/Record/$mac"
first=$(find "$folder/Record/$mac" -name '*.asf' | sort | head -n 1)
if [ -z "$first" ]; then
  echo "nothing was recorded" >&2
  exit 1
fi
echo
echo "ffprobe $(basename "$first"):"
ffprobe -v error -show_entries format=format_name:stream=codec_type,codec_name,width,height,sample_rate \
  -of default=noprint_wrappers=1 "$first"
