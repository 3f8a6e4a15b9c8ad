#!/usr/bin/env bash
# Remakes the two small clips the decoder's output-hash test keeps beside the
# camsim clips, with Debian's ffmpeg. They reach what the camsim clips do not:
# lowq.m4v  176x144, quantiser 2, four vectors: large levels, escape codes;
# highq.m4v 160x128, quantiser 24, MPEG quantisation, AC prediction, long GOP.
# The test's hashes belong to these exact bytes: remaking the clips means
# recording the hashes again with a decoder known to be right.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
common=(-c:v mpeg4 -threads 1 -bf 0 -sc_threshold 1000000000 -fflags +bitexact -f m4v)
ff -f lavfi -i mandelbrot=size=176x144:rate=25 -t 0.4 -g 25 -q:v 2 -flags:v +bitexact+mv4 "${common[@]}" "$here/lowq.m4v"
ff -f lavfi -i testsrc2=size=160x128:rate=25 -t 2 -g 50 -q:v 24 -mpeg_quant 1 -flags:v +bitexact+aic "${common[@]}" "$here/highq.m4v"
