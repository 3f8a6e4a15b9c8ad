#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, only when
# something is missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config libgtest-dev
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev libcurl4-openssl-dev libjpeg62-turbo-dev
  # runtime
  fonts-liberation xdg-utils
  # tests and benchmarks: references we did not write, fuzzing, display, sound, namespaces
  ffmpeg libavcodec-dev libavutil-dev libswscale-dev libspandsp-dev
  clang libclang-rt-14-dev
  xvfb xauth pulseaudio pulseaudio-utils iproute2 procps
  # the windows on a real X display: window manager, tray host, driving, grabs
  openbox trayer xdotool imagemagick x11-utils
  desktop-file-utils
  # packaging: the .deb and its checks
  dpkg-dev lintian appstream
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
