#!/usr/bin/env bash
# Remakes the clips camsim serves and the tests use, with Debian's ffmpeg.
# Each clip is NAME.m4v (MPEG-4 Part 2 elementary stream) + NAME.g726 (raw
# G.726 at 16 kbit/s, 2-bit codes packed most significant bit first, 8 kHz
# mono). Usage: make_clips.sh [OUTPUT_DIR]   (default: the clips/ folder here)
#
# Encoder settings and why:
#   -threads 1                  more threads switch on resync markers
#   -bf 0                       the cameras send I- and P-VOPs only
#   -sc_threshold 1000000000    no scene-cut I-VOPs: a fixed GOP
#   -r 15 / 25                  the time resolution becomes 15 / 25; a power
#                               of two would be misread by the viewer
#   heights 480, 240, 128       the viewer accepts 480 or heights below 256
# The encoder repeats its VOS/VO/VOL/GOV headers before every I-VOP; camsim
# strips them and sends VOPs only, with the VOL rebuilt as 18 bytes of codec
# data in the stream header.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/clips}
mkdir -p "$out"

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
common=(-c:v mpeg4 -threads 1 -bf 0 -sc_threshold 1000000000 -fflags +bitexact -f m4v)

audio() {  # audio NAME SECONDS FREQUENCY
  ff -f lavfi -i "sine=frequency=$3:beep_factor=4:sample_rate=8000" -t "$2" \
     -ar 8000 -ac 1 -c:a g726 -b:a 16k -f g726 "$out/$1.g726"
}

# 640x480, 15 frames/s, 4 s, one I-VOP every 2 s.
ff -f lavfi -i testsrc2=size=640x480:rate=15 -t 4 -g 30 -b:v 300k -flags:v +bitexact "${common[@]}" "$out/vga.m4v"
audio vga 4 440

# 320x240, 25 frames/s, 4 s, MPEG quantisation, four motion vectors per
# macroblock and AC prediction.
ff -f lavfi -i mandelbrot=size=320x240:rate=25 -t 4 -g 25 -b:v 200k -mpeg_quant 1 \
   -flags:v +bitexact+mv4+aic "${common[@]}" "$out/qvga.m4v"
audio qvga 4 660

# 160x128, 15 frames/s, 2 s: small and short, for loop and fault tests.
ff -f lavfi -i testsrc=size=160x128:rate=15 -t 2 -g 15 -b:v 60k -flags:v +bitexact "${common[@]}" "$out/small.m4v"
audio small 2 880

ls -l "$out"
