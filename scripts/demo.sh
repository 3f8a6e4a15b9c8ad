#!/usr/bin/env bash
# The demo: installs what is missing, builds, and shows the viewer with four
# simulated cameras.
#
#   ./scripts/demo.sh              the viewer's window
#   ./scripts/demo.sh --headless   the viewer's core without a display
#
# Window: camsim serves four cameras on 127.0.0.1, each a different clip (one
# with sound, the others moving or still), and `viewer --folder` runs on a
# fresh program folder whose param.dat has them playing on channels 1 to 4.
# On a desktop (DISPLAY or WAYLAND_DISPLAY set) the window opens and the demo
# ends when you click Exit. Without a display it runs the same on its own X
# server (Xvfb, with openbox and a tray host) for DEMO_SECONDS (20) seconds,
# saves a screenshot every 5 seconds into build/demo/, prints their paths,
# and ends the viewer as Exit does.
#
# Headless: one camera on channel 1 with a schedule window covering the day;
# viewer-headless prints once a second what the camera shows and records,
# then the demo lists the recording and has ffprobe read it.
#
# DEMO_KEEP=1 keeps the program folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${DEMO_SECONDS:-20}
mode=window
case "${1:-}" in
  --headless) mode=headless ;;
  "") ;;
  *) echo "usage: $0 [--headless]" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --no-fuzz

camsim="$root/build/bin/camsim"
work=$(mktemp -d)
folder="$work/program"
mkdir -p "$folder"
pids=()
cleanup() {
  # Newest first: the viewer, then the desktop, then the cameras.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    if kill -0 "${pids[$i]}" 2>/dev/null; then
      kill -TERM "${pids[$i]}" 2>/dev/null || true
      wait "${pids[$i]}" 2>/dev/null || true
    fi
  done
  if [ -n "${DEMO_KEEP:-}" ]; then echo "kept: $folder"; else rm -rf "$work"; fi
}
trap cleanup EXIT INT TERM

# Starts camsim with the given arguments; sets `ports` to the cameras' ports.
start_camsim() {
  local out="$work/camsim.out"
  "$camsim" "$@" >"$out" &
  pids+=($!)
  for _ in $(seq 1 100); do
    grep -q '^ready' "$out" && break
    kill -0 "${pids[-1]}" 2>/dev/null || { echo "camsim did not start" >&2; cat "$out" >&2; exit 1; }
    sleep 0.1
  done
  mapfile -t ports < <(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
  if [ ${#ports[@]} -eq 0 ]; then echo "camsim did not say where it listens" >&2; exit 1; fi
}

# One CamInfo record: NAME PORT MAC CHANNEL MUTED; playing, every zone of the
# 3x3 grid watched.
cam_info() {
  local zones="1|1|1|1|1|1|1|1|1|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0"
  echo -n "$1|127.0.0.1|$2|$3|simulated camera|admin|admin|1|$4|0|0|0|1|0|$5|0|$zones|0|3\\"
}

headless_demo() {
  local clip=${DEMO_CLIP:-vga} mac=000e53000001
  start_camsim --port 0 --user admin --password admin --mac "$mac" "$clip"
  echo "camsim: clip '$clip' on 127.0.0.1:${ports[0]}"
  # The camera playing at the last exit (AutoPlay starts it), unmuted; one
  # schedule window, every day from 00:00 for 1440 minutes, so the camera
  # records whenever this runs.
  {
    echo "AutoPlay=1"
    echo "AutoRun=0"
    echo "InstanceTime=1"
    echo "MotionTime=1"
    echo "JpegRatio=80"
    echo "CamInfo=$(cam_info demo "${ports[0]}" "$mac" 1 0)"
    echo "CamSchedule=${mac}0|1|0|1|0|1440\\"
  } >"$folder/param.dat"
  chmod 600 "$folder/param.dat"

  "$root/build/bin/viewer-headless" --folder "$folder" --seconds "$seconds"

  echo
  echo "recorded files:"
  ls -l "$folder/Record/$mac"
  local first
  first=$(find "$folder/Record/$mac" -name '*.asf' | sort | head -n 1)
  if [ -z "$first" ]; then
    echo "nothing was recorded" >&2
    exit 1
  fi
  echo
  echo "ffprobe $(basename "$first"):"
  ffprobe -v error -show_entries format=format_name:stream=codec_type,codec_name,width,height,sample_rate \
    -of default=noprint_wrappers=1 "$first"
}

# Starts a program in the background on the demo's own display.
on_display() {
  env DISPLAY="$display" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" "$@" >>"$work/desktop.log" 2>&1 &
  pids+=($!)
}

window_demo() {
  # Four different cameras: the test picture with its sound; the fractal zoom,
  # the moving test pattern and still colour bars, silent.
  ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i smptebars=size=320x240:rate=15 -t 1 -g 1 \
    -qscale:v 2 -c:v mpeg4 -threads 1 -bf 0 -fflags +bitexact -flags:v +bitexact -f m4v "$work/bars.m4v"
  start_camsim --port 0 --name "Entrance" vga \
    --camera 0:admin:admin:qvga --name "Garden" --no-audio \
    --camera 0:admin:admin:small --name "Garage" --no-audio \
    --camera "0:admin:admin:$work/bars" --name "Hall" --no-audio
  local names=(Entrance Garden Garage Hall) info=""
  for i in 0 1 2 3; do
    # The first camera is the audible one.
    info+=$(cam_info "${names[$i]}" "${ports[$i]}" "000e5300000$((i + 1))" $((i + 1)) $((i == 0 ? 0 : 1)))
  done
  {
    echo "AutoPlay=1"
    echo "AutoRun=0"
    echo "InstanceTime=1"
    echo "MotionTime=1"
    echo "JpegRatio=80"
    echo "CamInfo=$info"
    echo "CamSchedule="
  } >"$folder/param.dat"
  chmod 600 "$folder/param.dat"
  echo "camsim: four cameras on 127.0.0.1:${ports[*]}"

  if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "viewer: the window is open; click Exit (top right) to end the demo"
    # Its own autostart folder: the demo's AutoRun=0 must not touch the user's.
    XDG_CONFIG_HOME="$work/config" "$root/build/bin/viewer" --folder "$folder"
    return
  fi

  # No display: one of our own, with a window manager and a tray host.
  mkdir -p "$work/runtime" "$work/config"
  chmod 700 "$work/runtime"
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >>"$work/desktop.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  display=":$(head -n 1 "$work/display")"
  [ "$display" != ":" ] || { echo "Xvfb did not start" >&2; cat "$work/desktop.log" >&2; exit 1; }
  on_display openbox --sm-disable
  on_display trayer --edge top --align right --widthtype pixel --width 100 --SetDockType false
  on_display "$root/build/bin/viewer" --folder "$folder"
  local viewer_pid=${pids[-1]}
  echo "viewer: running on its own X display $display for $seconds seconds"

  local shots="$root/build/demo"
  mkdir -p "$shots"
  rm -f "$shots"/screen-*.png
  local t=0
  while [ "$t" -lt "$seconds" ]; do
    sleep 5
    t=$((t + 5))
    kill -0 "$viewer_pid" 2>/dev/null || { echo "the viewer ended early" >&2; cat "$work/desktop.log" >&2; exit 1; }
    DISPLAY="$display" import -window root "$shots/screen-$(printf '%02d' "$t")s.png"
    echo "screenshot: $shots/screen-$(printf '%02d' "$t")s.png"
  done
  # Ended as Exit ends it: cameras stopped, param.dat saved.
  kill -TERM "$viewer_pid"
  wait "$viewer_pid" && echo "viewer: ended cleanly, param.dat saved"
}

if [ "$mode" = headless ]; then headless_demo; else window_demo; fi
