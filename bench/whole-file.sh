#!/bin/bash
# Whole-file speed: encodes (also in the quality mode at 128 kb/s, on one thread and two) and
# decodes a generated 60-second stereo file with the built programs
# and, when installed, with twolame (encoder peer) and lame (decoder peer) on the same file in
# the same run, several times in turn, and prints medians and the ratios to the peers. CPU time is
# user + system of the program alone; wall time includes waiting for a core, so it means most on
# an otherwise idle machine. Usage: bench/whole-file.sh BUILD_DIR [RUNS]
set -u
build=${1:?build folder}
runs=${2:-7}
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/source.wav
"$build/ostrelgen" "$src" 60 mix >/dev/null || exit 1

TIMEFORMAT='%R %U %S'
# run NAME COMMAND...: one timed run, appended to $work/NAME as "wall cpu".
run() {
  local name=$1; shift
  local t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 ) || { echo "$name failed" >&2; return 1; }
  echo "$t" | awk '{printf "%.3f %.3f\n", $1, $2 + $3}' >>"$work/$name"
}
encode() {  # encode ROW THREADS TARGET
  printf '%s\n%s\n%s\n' "$src" "$3" "$1" | "$build/ostrelenc" --threads "$2"
}
median() {  # median FILE COLUMN
  cut -d' ' -f"$2" "$1" | sort -n | awk '{v[NR]=$1} END{print v[int((NR+1)/2)]}'
}

have_twolame=0; command -v twolame >/dev/null && have_twolame=1
have_lame=0; command -v lame >/dev/null && have_lame=1
[ $have_lame = 1 ] && lame --quiet -b 128 "$src" "$work/peer.mp3"
encode 5 1 "$work/dec.ost" >/dev/null

for ((i = 0; i < runs; ++i)); do
  run enc128 encode 5 1 "$work/a.ost"
  run enc256 encode 2 1 "$work/b.ost"
  run enc128x2 encode 5 2 "$work/c.ost"
  run quality128 "$build/ostrelenc" -q -f --quality --threads 1 -b 128 -o "$work/q.ost" "$src"
  run quality128x2 "$build/ostrelenc" -q -f --quality --threads 2 -b 128 -o "$work/q2.ost" "$src"
  run dec128 "$build/ostreldec" "$work/dec.ost" "$work/dec.wav"
  if [ $have_twolame = 1 ]; then
    run twolame128 twolame --quiet -b 128 "$src" "$work/a.mp2"
    run twolame256 twolame --quiet -b 256 "$src" "$work/b.mp2"
  fi
  [ $have_lame = 1 ] && run lamedec lame --quiet --decode "$work/peer.mp3" "$work/peer.wav"
done
cmp -s "$work/a.ost" "$work/c.ost" || echo "warning: one and two threads gave different streams" >&2
cmp -s "$work/q.ost" "$work/q2.ost" || echo "warning: the quality mode's one and two threads gave different streams" >&2

printf '\nWhole-file benchmark: 60 s stereo 44.1 kHz, medians of %d runs (seconds)\n' "$runs"
printf '%-34s %8s %8s %10s\n' "" "CPU" "wall" "x realtime"
row() {  # row LABEL NAME
  local cpu wall
  cpu=$(median "$work/$2" 2); wall=$(median "$work/$2" 1)
  printf '%-34s %8s %8s %10.0f\n' "$1" "$cpu" "$wall" "$(awk -v c="$cpu" 'BEGIN{print (c > 0 ? 60 / c : 0)}')"
}
row "ostrelenc 128 kb/s, 1 thread" enc128
row "ostrelenc 256 kb/s, 1 thread" enc256
row "ostrelenc 128 kb/s, 2 threads" enc128x2
row "ostrelenc --quality 128 kb/s" quality128
row "ostrelenc --quality 128, 2 threads" quality128x2
row "ostreldec 128 kb/s" dec128
[ $have_twolame = 1 ] && row "twolame 128 kb/s" twolame128 && row "twolame 256 kb/s" twolame256
[ $have_lame = 1 ] && row "lame --decode 128 kb/s" lamedec

ratio() { awk -v a="$(median "$work/$1" "$3")" -v b="$(median "$work/$2" "$3")" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}'; }
echo
if [ $have_twolame = 1 ]; then
  printf 'encoder CPU / twolame CPU, 128 kb/s:       %s (goal <= 0.60)\n' "$(ratio enc128 twolame128 2)"
  printf 'encoder CPU / twolame CPU, 256 kb/s:       %s (goal <= 0.60)\n' "$(ratio enc256 twolame256 2)"
  printf 'encoder 2-thread wall / twolame wall:      %s (goal <= 0.35)\n' "$(ratio enc128x2 twolame128 1)"
  printf 'quality mode CPU / twolame CPU, 128 kb/s:  %s (goal <= 1.00)\n' "$(ratio quality128 twolame128 2)"
else
  echo "twolame not installed (apt-get install twolame): no encoder ratios"
fi
printf 'encoder 1-thread wall / 2-thread wall:     %s (goal >= 1.70)\n' "$(ratio enc128 enc128x2 1)"
printf 'quality mode 1-thread / 2-thread wall:     %s\n' "$(ratio quality128 quality128x2 1)"
if [ $have_lame = 1 ]; then
  printf 'decoder CPU / lame --decode CPU:           %s (goal <= 1.00)\n' "$(ratio dec128 lamedec 2)"
else
  echo "lame not installed (apt-get install lame): no decoder ratio"
fi
