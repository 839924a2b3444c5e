#!/usr/bin/env bash
# Writes seed inputs for the fuzz targets, made with the project's own tools from BUILD_DIR:
# short compressed files at three layouts (long blocks of 512, 1024 and 2048 samples) for
# fuzz_decoder, and a short WAV file for fuzz_waveio.
# Usage: fuzz/make-seeds.sh BUILD_DIR CORPUS_DIR
set -euo pipefail
build=$1
corpus=$2
mkdir -p "$corpus/decoder" "$corpus/waveio"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/ostrelgen" "$corpus/waveio/mix.wav" 0.01 mix
for row in 1 3 7; do
  "$build/ostrelgen" "$work/source.wav" 0.15 mix
  printf '%s\n%s\n%s\n' "$work/source.wav" "$corpus/decoder/row$row.ost" "$row" | "$build/ostrelenc" > /dev/null
done
