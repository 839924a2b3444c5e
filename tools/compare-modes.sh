#!/bin/sh
# Codes every clip of a material folder (tools/make-material.sh) at every data rate in both modes,
# checks every frame of the streams (ostreldec -t), decodes them and measures them with ostrelcmp. Prints one line per clip, rate and mode
# (SNR, NMR, audible frames) and, per rate and mode, the mean NMR and audible share over the clips.
#
#   tools/compare-modes.sh [BUILD_DIR] [MATERIAL_DIR] [RATES]
#
# BUILD_DIR holds ostrelenc, ostreldec and ostrelcmp (default build); MATERIAL_DIR the clips
# (default BUILD_DIR/material); RATES a list in kb/s (default all seven). The streams and decoded
# files go to MATERIAL_DIR/out.
set -eu

build=${1:-build}
material=${2:-$build/material}
rates=${3:-96 112 128 160 192 256 392}
cmp=${OSTRELCMP:-$build/ostrelcmp}
out=$material/out
mkdir -p "$out"

for rate in $rates; do
  for mode in reference quality; do
    flag=
    [ "$mode" = quality ] && flag=--quality
    for wav in "$material"/*.wav; do
      name=$(basename "$wav" .wav)
      stream=$out/$name-$rate-$mode.ost
      decoded=$out/$name-$rate-$mode.wav
      # shellcheck disable=SC2086
      "$build/ostrelenc" -q -f $flag -b "$rate" -o "$stream" "$wav"
      # Every frame checked field by field first: a damaged frame stops the script.
      "$build/ostreldec" -q -t "$stream"
      "$build/ostreldec" -q -f -o "$decoded" "$stream"
      "$cmp" "$wav" "$decoded" | awk -v n="$name" -v r="$rate" -v m="$mode" '
        /^SNR/ {snr=$2} /^NMR/ {nmr=$2} /^audible/ {aud=$2}
        END {printf "%-12s %4s %-9s SNR %7s  NMR %7s  audible %s\n", n, r, m, snr, nmr, aud}'
    done
  done
done | tee "$out/figures.txt" | awk '
  { print; key=$2 " " $3; nmr[key]+=$7; aud[key]+=$9; n[key]++ }
  END {
    print ""
    print "rate  mode       mean NMR dB  mean audible %"
    for (k in n) printf "%s  %11.2f  %14.1f\n", k, nmr[k]/n[k], aud[k]/n[k] | "sort -n"
  }'
