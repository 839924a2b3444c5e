#!/usr/bin/env bash
# Writes seed inputs for the fuzz targets, made with the project's own tools from BUILD_DIR:
# short compressed files at every rate, in both coding modes, for fuzz_decoder (two frames each,
# the first with switched blocks, within the 20000 bytes `make fuzz` lets it read); for
# fuzz_encoder, at every rate and in both modes, its three leading bytes (rate, flags, chunking)
# and half a second of the generator's mix (clicks that switch blocks, several frames at every
# rate) as 16-bit samples; and a short WAV file for fuzz_waveio.
# Usage: fuzz/make-seeds.sh BUILD_DIR CORPUS_DIR
set -euo pipefail
build=$1
corpus=$2
mkdir -p "$corpus/decoder" "$corpus/encoder" "$corpus/waveio"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/ostrelgen" "$corpus/waveio/mix.wav" 0.01 mix
# 0.36 s: two frames at every rate (the longest frame holds 16384 sample frames).
"$build/ostrelgen" "$work/source.wav" 0.36 mix
for row in 1 2 3 4 5 6 7; do
  printf '%s\n%s\n%s\n' "$work/source.wav" "$corpus/decoder/row$row.ost" "$row" | "$build/ostrelenc" > /dev/null
done
for kbps in 96 192 392; do
  "$build/ostrelenc" -q -f --quality -b "$kbps" "$work/source.wav" -o "$corpus/decoder/quality$kbps.ost"
done

# The encoder target's samples: the WAV file's data after its 44-byte header.
"$build/ostrelgen" "$work/long.wav" 0.5 mix
tail -c +45 "$work/long.wav" > "$work/samples"
for rate in 0 1 2 3 4 5 6; do     # index into ostrel_bitrates
  for flags in 2 6; do            # seekable, as 16-bit samples; 4: the quality mode
    { printf "\\$(printf '%03o' "$rate")\\$(printf '%03o' "$flags")\\$(printf '%03o' $((rate * 37 + 11)))"
      cat "$work/samples"; } > "$corpus/encoder/rate$rate-flags$flags"
  done
done
# No samples at all, with the length patched in (and once more in the quality mode).
printf '\000\002\000' > "$corpus/encoder/empty-seekable"
printf '\002\006\000' > "$corpus/encoder/empty-seekable-quality"
