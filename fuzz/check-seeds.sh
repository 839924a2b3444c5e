#!/usr/bin/env bash
# Checks what make-seeds.sh writes: decoder seeds that decode cleanly at all seven rates, some in
# the quality mode, each of two frames or more with switched blocks and short enough for the
# decoder target's input limit; encoder seeds for every rate in both modes, each longer than the
# largest frame (so coded in several frames at every rate), and two without samples.
# Usage: fuzz/check-seeds.sh BUILD_DIR
set -euo pipefail
build=$1
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
"$(dirname "$0")/make-seeds.sh" "$build" "$corpus"
rates=$(for f in "$corpus"/decoder/*.ost; do
  "$build/ostreldec" -q -t "$f"
  [ "$(stat -c %s "$f")" -le 20000 ] || { echo "$f is longer than the decoder target reads" >&2; exit 1; }
  listing=$("$build/ostreldec" --info -v "$f")
  [ "$(grep -c '^frame ' <<< "$listing")" -ge 2 ] || { echo "$f has fewer than two frames" >&2; exit 1; }
  grep -q '^frame .*switch [0-9]' <<< "$listing" || { echo "$f switches no block" >&2; exit 1; }
  sed -n 's/^Data rate: *\([0-9]*\) kb\/s.*/\1/p' <<< "$listing"
done | sort -un | wc -l)
[ "$rates" -eq 7 ] || { echo "decoder seeds cover $rates rates, not 7"; exit 1; }
ls "$corpus"/decoder/quality*.ost > /dev/null
count=0
for f in "$corpus"/encoder/rate*; do
  [ "$(stat -c %s "$f")" -gt $((3 + 4 * 16384)) ] || { echo "$f fits in one frame"; exit 1; }
  count=$((count + 1))
done
[ "$count" -eq 14 ] || { echo "$count encoder seeds, not 14 (7 rates, 2 modes)"; exit 1; }
for f in "$corpus"/encoder/empty-seekable "$corpus"/encoder/empty-seekable-quality; do
  [ "$(stat -c %s "$f")" -eq 3 ] || { echo "$f is not three leading bytes alone"; exit 1; }
done
echo "seeds: 7 rates for the decoder, 14 and 2 empty ones for the encoder"
