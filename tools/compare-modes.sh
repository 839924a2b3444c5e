#!/bin/sh
# Grades both encoder modes, and the codecs users compare ours with, on the listening material of
# tools/make-material.sh: every clip is coded, checked frame by frame (ostreldec -t), decoded and
# graded by ostrelcmp (its objective difference grade, ODG, and its NMR). Prints the means per rate
# and mode over the clips, the means per class of clip (the clip name's prefix up to its first
# "-"), and on request the worst clips; writes one line per clip, rate and mode to a TSV file.
#
#   tools/compare-modes.sh [OPTION...] [BUILD_DIR [MATERIAL_DIR [RATES]]]
#
#   -r, --rates "LIST"      data rates in kb/s of our modes (default: 96 112 128 160 192 256 392)
#   -m, --modes "LIST"      our modes: reference, quality, or both (the default); none for only
#                           the other codecs
#   -p, --peers "LIST"      other codecs among lame lame-lr oggenc opusenc twolame, or none
#                           (default: those installed; tools/install-deps.sh compare installs
#                           them); lame-lr is lame coding left and right apart (-m s), as our
#                           format does, where lame itself codes mid and side
#   -P, --peer-rates "LIST" their rates (default: 128 256)
#   -c, --clips PATTERN     only the clips whose names match the shell pattern ('speech-*')
#   -o, --output FILE       the per-clip figures (default: MATERIAL_DIR/out/figures.tsv): clip,
#                           class, rate, mode, odg, nmr, tab-separated, with a header line
#   -w, --worst N           also list the N lowest grades
#       --markdown          print the tables as Markdown, as in the README: both modes per
#                           rate, the other codecs, and per class at 128 kb/s
#       --from FILE         no runs: the tables of the figures in FILE (from -o)
#   -j, --jobs N            runs at once, 1 or 2 (default: 2)
#   -k, --keep              keep the decoded files (MATERIAL_DIR/out/CLIP-RATE-MODE.wav)
#   -h, --help              this text
#
# BUILD_DIR holds ostrelenc, ostreldec and ostrelcmp (default: build; OSTRELCMP names another
# ostrelcmp); MATERIAL_DIR the clips (default: BUILD_DIR/material). The streams go to
# MATERIAL_DIR/out. The other codecs code the same WAV files and are decoded back to 16-bit stereo
# 44100 Hz WAV (lame --decode, and sox where lame chose a lower sampling rate, as it does at
# 96 kb/s; oggdec; opusdec --rate 44100; mpg123 for twolame's Layer II, whose 481 samples of
# filter bank delay are cut off). A grade the meter does not print is NA.
set -eu

usage() { sed -n '2,/^set -eu/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }
die() { echo "compare-modes: $*" >&2; exit 2; }
# The other codecs, in the order of the tables; MODES, every mode of a figures file.
PEERS="lame lame-lr oggenc opusenc twolame"
MODES="reference quality $PEERS"

# One run, started by the script itself in parallel: --one CLIP.wav RATE MODE.
if [ "${1:-}" = --one ]; then
  wav=$2; rate=$3; mode=$4
  name=$(basename "$wav" .wav)
  base=$CM_OUT/$name-$rate-$mode
  decoded=$base.wav
  row=$CM_ROWS/$name-$rate-$mode.tsv
  fail() { echo "compare-modes: $name $rate kb/s $mode: $*" >&2; rm -f "$decoded"; exit 1; }
  case $mode in
    reference|quality)
      flag=
      [ "$mode" = quality ] && flag=--quality
      # shellcheck disable=SC2086
      "$CM_BUILD/ostrelenc" -q -f $flag --threads 1 -b "$rate" -o "$base.ost" "$wav" || fail "ostrelenc failed"
      # Every frame checked field by field first: a damaged frame is an error.
      "$CM_BUILD/ostreldec" -q -t "$base.ost" || fail "ostreldec -t found a damaged frame"
      "$CM_BUILD/ostreldec" -q -f -o "$decoded" "$base.ost" || fail "ostreldec failed" ;;
    lame|lame-lr)
      stereo=
      [ "$mode" = lame-lr ] && stereo="-m s"
      # shellcheck disable=SC2086
      lame --silent --cbr $stereo -b "$rate" "$wav" "$base.mp3" || fail "lame failed"
      lame --silent --decode "$base.mp3" "$decoded" || fail "lame --decode failed"
      # At low rates lame codes at a lower sampling rate of its own choice; a player brings it
      # back to the source's rate, and so does the grading.
      if [ "$(soxi -r "$decoded")" != "$(soxi -r "$wav")" ]; then
        mv "$decoded" "$base.raw.wav"
        sox -D -V1 "$base.raw.wav" -r "$(soxi -r "$wav")" "$decoded" rate -v || fail "sox failed"
        rm -f "$base.raw.wav"
      fi ;;
    oggenc)
      oggenc -Q -b "$rate" -o "$base.ogg" "$wav" || fail "oggenc failed"
      oggdec -Q -o "$decoded" "$base.ogg" || fail "oggdec failed" ;;
    opusenc)
      opusenc --quiet --bitrate "$rate" "$wav" "$base.opus" || fail "opusenc failed"
      opusdec --quiet --rate 44100 "$base.opus" "$decoded" 2>/dev/null || fail "opusdec failed" ;;
    twolame)
      twolame --quiet -b "$rate" "$wav" "$base.mp2" || fail "twolame failed"
      mpg123 -q -w "$base.raw.wav" "$base.mp2" || fail "mpg123 failed"
      # The decoder's delay cut off, the frame padding too, and the length made the source's.
      frames=$(soxi -s "$wav")
      sox -D -V1 "$base.raw.wav" "$decoded" trim 481s pad 0 "${frames}s" trim 0 "${frames}s" || fail "sox failed"
      rm -f "$base.raw.wav" ;;
    *) fail "no such mode" ;;
  esac
  status=0
  "$CM_CMP" "$wav" "$decoded" >"$base.cmp" 2>&1 || status=$?
  # Status 1: the decoded file is shorter than the source, graded over what it holds.
  [ "$status" -le 1 ] || { cat "$base.cmp" >&2; fail "ostrelcmp failed (status $status)"; }
  [ "$CM_KEEP" = yes ] || rm -f "$decoded"
  class=${name%%-*}
  awk -v c="$name" -v k="$class" -v r="$rate" -v m="$mode" '
    /^ODG:/ { odg = $2 } /^NMR/ { nmr = $2 }
    END { printf "%s\t%s\t%s\t%s\t%s\t%s\n", c, k, r, m, (odg == "" ? "NA" : odg), (nmr == "" ? "NA" : nmr) }
  ' "$base.cmp" >"$row"
  rm -f "$base.cmp"
  exit 0
fi

rates="96 112 128 160 192 256 392"
modes="reference quality"
peers=auto
peer_rates="128 256"
clips='*'
output=
worst=0
markdown=no
from=
jobs=2
keep=no
while [ $# -gt 0 ]; do
  case $1 in
    -r|--rates) [ $# -ge 2 ] || die "$1 needs a list"; rates=$(echo "$2" | tr ',' ' '); shift 2 ;;
    -m|--modes) [ $# -ge 2 ] || die "$1 needs a list"; modes=$(echo "$2" | tr ',' ' '); shift 2 ;;
    -p|--peers) [ $# -ge 2 ] || die "$1 needs a list"; peers=$(echo "$2" | tr ',' ' '); shift 2 ;;
    -P|--peer-rates) [ $# -ge 2 ] || die "$1 needs a list"; peer_rates=$(echo "$2" | tr ',' ' '); shift 2 ;;
    -c|--clips) [ $# -ge 2 ] || die "$1 needs a pattern"; clips=$2; shift 2 ;;
    -o|--output) [ $# -ge 2 ] || die "$1 needs a file"; output=$2; shift 2 ;;
    -w|--worst) [ $# -ge 2 ] || die "$1 needs a count"; worst=$2; shift 2 ;;
    -j|--jobs) [ $# -ge 2 ] || die "$1 needs a count"; jobs=$2; shift 2 ;;
    -k|--keep) keep=yes; shift ;;
    --markdown) markdown=yes; shift ;;
    --from) [ $# -ge 2 ] || die "$1 needs a file"; from=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    --) shift; break ;;
    -*) die "unknown option $1 (see --help)" ;;
    *) break ;;
  esac
done
[ $# -le 3 ] || die "too many arguments (see --help)"
build=${1:-build}
material=${2:-$build/material}
[ $# -lt 3 ] || rates=$3

case $worst in ''|*[!0-9]*) die "--worst takes a count, not '$worst'" ;; esac
case $jobs in 1|2) ;; *) die "--jobs takes 1 or 2 (the machine is shared), not '$jobs'" ;; esac
[ "$modes" = none ] && modes=
for m in $modes; do
  case $m in reference|quality) ;; *) die "no mode '$m' (reference, quality)" ;; esac
done
for r in $rates; do
  case $r in 96|112|128|160|192|256|392) ;; *) die "no rate '$r' kb/s (96 112 128 160 192 256 392)" ;; esac
done
for r in $peer_rates; do
  case $r in ''|*[!0-9]*) die "--peer-rates: '$r' is not a rate in kb/s" ;; esac
done

if [ -n "$from" ]; then
  [ -f "$from" ] || die "--from: no file $from"
  output=$from
  runs=$(($(wc -l <"$output") - 1))
  done_runs=$runs
  seconds=
  failed=0
else
  # The other codecs: each needs its decoder too (and sox for the Layer II delay).
  needs() {
    case $1 in
      lame|lame-lr) echo "lame sox soxi" ;; oggenc) echo "oggenc oggdec" ;; opusenc) echo "opusenc opusdec" ;;
      twolame) echo "twolame mpg123 sox soxi" ;; *) return 1 ;;
    esac
  }
  if [ "$peers" = auto ]; then
    wanted=$PEERS
    peers=
    explicit=no
  else
    [ "$peers" = none ] && peers=
    wanted=$peers
    peers=
    explicit=yes
  fi
  for p in $wanted; do
    programs=$(needs "$p") || die "no other codec '$p' ($(echo "$PEERS" | sed 's/ /, /g'))"
    ok=yes
    for prog in $programs; do command -v "$prog" >/dev/null || { ok=no; missing=$prog; }; done
    if [ $ok = yes ]; then
      peers="$peers $p"
    elif [ $explicit = yes ]; then
      die "$p needs $missing, which is not installed (tools/install-deps.sh compare)"
    else
      echo "compare-modes: leaving out $p ($missing not installed; tools/install-deps.sh compare)" >&2
    fi
  done

  [ -z "$modes" ] || for prog in ostrelenc ostreldec; do
    [ -x "$build/$prog" ] || die "$build/$prog is missing (cmake --build $build --target $prog)"
  done
  cmp=${OSTRELCMP:-$build/ostrelcmp}
  [ -x "$cmp" ] || die "$cmp is missing (cmake --build $build --target ostrelcmp)"
  [ -d "$material" ] || die "no material in $material (tools/make-material.sh $material)"
  # The runs are handed on as words.
  case "$material" in *' '*) die "the material folder's path holds a space: '$material'" ;; esac
  out=$material/out
  mkdir -p "$out"
  [ -n "$output" ] || output=$out/figures.tsv

  # The runs, one a line: the clip, the rate and the mode.
  list=$out/runs.txt
  : >"$list"
  count=0
  for wav in "$material"/$clips.wav; do
    [ -f "$wav" ] || continue
    count=$((count + 1))
    for mode in $modes; do for rate in $rates; do echo "$wav $rate $mode" >>"$list"; done; done
    for peer in $peers; do for rate in $peer_rates; do echo "$wav $rate $peer" >>"$list"; done; done
  done
  [ "$count" -gt 0 ] || die "no clip matches '$clips' in $material (tools/make-material.sh $material)"
  runs=$(wc -l <"$list")
  [ "$runs" -gt 0 ] || die "nothing to run: no mode and no other codec"
  echo "compare-modes: $runs runs on $count clips (modes:${modes:+ $modes}${peers}), $jobs at once" >&2

  rows=$out/rows
  rm -rf "$rows"
  mkdir -p "$rows"
  start=$(date +%s)
  CM_BUILD=$build CM_OUT=$out CM_ROWS=$rows CM_CMP=$cmp CM_KEEP=$keep
  export CM_BUILD CM_OUT CM_ROWS CM_CMP CM_KEEP
  failed=0
  xargs -P "$jobs" -L 1 sh "$0" --one <"$list" || failed=1
  seconds=$(($(date +%s) - start))

  # The figures, one file: sorted by clip, mode and rate.
  tab=$(printf '\t')
  {
    printf 'clip\tclass\trate\tmode\todg\tnmr\n'
    for f in "$rows"/*.tsv; do [ -f "$f" ] && cat "$f"; done | sort -t "$tab" -k1,1 -k4,4 -k3,3n
  } >"$output.tmp"
  rm -rf "$rows"
  mv "$output.tmp" "$output"
  done_runs=$(($(wc -l <"$output") - 1))

fi

all_rates=$(awk -F '\t' 'NR > 1 { print $3 }' "$output" | sort -un | tr '\n' ' ')
if [ "$markdown" = yes ]; then
  awk -F '\t' -v rates="$all_rates" -v modes="$MODES" '
    NR == 1 { next }
    {
      k = $4 SUBSEP $3; present[$4] = 1; clip[$1] = 1; member[$2 SUBSEP $1] = 1; cls[$2] = 1
      if ($5 != "NA") { so[k] += $5; no[k]++ }
      if ($6 != "NA") { sn[k] += $6; nn[k]++ }
      if ($3 == 128 && $5 != "NA") { sc[$2 SUBSEP $4] += $5; nc[$2 SUBSEP $4]++ }
    }
    function odg(s, n) { return n > 0 ? sprintf("%+.2f", s / n) : "" }
    function nmr(s, n) { return n > 0 ? sprintf("%+.2f dB", s / n) : "" }
    END {
      nr = split(rates, r, " ")
      for (c in clip) nclips++
      printf "Means over the %d clips:\n\n| Rate |", nclips
      nm = 0
      if ("reference" in present) m[++nm] = "reference"
      if ("quality" in present) m[++nm] = "quality"
      for (i = 1; i <= nm; i++) printf " %s ODG |", m[i]
      for (i = 1; i <= nm; i++) printf " %s NMR |", m[i]
      printf "\n|---:|"
      for (i = 1; i <= 2 * nm; i++) printf "---:|"
      printf "\n"
      for (j = nr; j >= 1; j--) {
        if (nm == 0) break
        row = ""
        for (i = 1; i <= nm; i++) row = row " " odg(so[m[i] SUBSEP r[j]], no[m[i] SUBSEP r[j]]) " |"
        for (i = 1; i <= nm; i++) row = row " " nmr(sn[m[i] SUBSEP r[j]], nn[m[i] SUBSEP r[j]]) " |"
        if (row ~ /[0-9]/) printf "| %s kb/s |%s\n", r[j], row
      }
      np = split("opusenc lame oggenc lame-lr twolame", p, " ")
      split("Opus (opusenc)|MP3 (lame)|Vorbis (oggenc)|MP3, left and right apart (lame -m s)|Layer II (twolame)", pname, "|")
      header = 0
      for (i = 1; i <= np; i++) if (p[i] in present) {
        if (!header) {
          printf "\n| Codec |"
          for (j = 1; j <= nr; j++) if (no[p[i] SUBSEP r[j]] + nn[p[i] SUBSEP r[j]] > 0) { pr[++npr] = r[j]; printf " ODG %s kb/s |", r[j] }
          for (j = 1; j <= npr; j++) printf " NMR %s kb/s |", pr[j]
          printf "\n|---|"
          for (j = 1; j <= 2 * npr; j++) printf "---:|"
          printf "\n"
          header = 1
        }
        printf "| %s |", pname[i]
        for (j = 1; j <= npr; j++) printf " %s |", odg(so[p[i] SUBSEP pr[j]], no[p[i] SUBSEP pr[j]])
        for (j = 1; j <= npr; j++) printf " %s |", nmr(sn[p[i] SUBSEP pr[j]], nn[p[i] SUBSEP pr[j]])
        printf "\n"
      }
      nk = split("speech solo tonal transient drums dense wide mono noise quiet loud", known, " ")
      for (i = 1; i <= nk; i++) { order[++no2] = known[i]; listed[known[i]] = 1 }
      for (k in cls) if (!(k in listed)) order[++no2] = k
      nmod = split(modes, all, " ")
      printf "\nODG at 128 kb/s per class:\n\n| Class |"
      for (i = 1; i <= nmod; i++) if (all[i] in present) printf " %s |", all[i]
      printf "\n|---|"
      for (i = 1; i <= nmod; i++) if (all[i] in present) printf "---:|"
      printf "\n"
      for (a = 1; a <= no2; a++) {
        k = order[a]
        if (!(k in cls)) continue
        n = 0
        for (x in member) { split(x, y, SUBSEP); if (y[1] == k) n++ }
        printf "| %s (%d) |", k, n
        for (i = 1; i <= nmod; i++) if (all[i] in present) printf " %s |", odg(sc[k SUBSEP all[i]], nc[k SUBSEP all[i]])
        printf "\n"
      }
    }' "$output"
else
  awk -F '\t' -v rates="$all_rates" -v order="$MODES" -v worst="$worst" '
    NR == 1 { next }
    {
      clip[$1] = 1; cls[$2] = 1; ncls[$2 SUBSEP $1] = 1; present[$4] = 1
      if ($5 != "NA") { so[$4 SUBSEP $3] += $5; no[$4 SUBSEP $3]++; sc[$2 SUBSEP $4 SUBSEP $3] += $5; nc[$2 SUBSEP $4 SUBSEP $3]++ }
      if ($6 != "NA") { sn[$4 SUBSEP $3] += $6; nn[$4 SUBSEP $3]++ }
      if ($5 != "NA") { rows[++nrows] = $5 "\t" $1 "\t" $3 "\t" $4 }
    }
    function header(title,   i) {
      printf "%-22s", title
      for (i = 1; i <= nr; i++) printf " %6s", r[i]
      printf "\n"
    }
    function cell(s, n) { return n > 0 ? sprintf(" %+6.2f", s / n) : sprintf(" %6s", "") }
    END {
      nr = split(rates, r, " "); nm = split(order, m, " ")
      for (c in clip) nclips++
      header(sprintf("ODG, mean of %d clips", nclips))
      for (i = 1; i <= nm; i++) if (m[i] in present) {
        printf "%-22s", m[i]
        for (j = 1; j <= nr; j++) printf "%s", cell(so[m[i] SUBSEP r[j]], no[m[i] SUBSEP r[j]])
        printf "\n"
      }
      if (nrows == 0) print "(no grades: this ostrelcmp prints no ODG line)"
      printf "\n"
      header("NMR dB, mean")
      for (i = 1; i <= nm; i++) if (m[i] in present) {
        printf "%-22s", m[i]
        for (j = 1; j <= nr; j++) printf "%s", cell(sn[m[i] SUBSEP r[j]], nn[m[i] SUBSEP r[j]])
        printf "\n"
      }
      if (nrows == 0) exit
      printf "\n"
      header("ODG per class")
      ncl = 0
      for (k in cls) names[++ncl] = k
      for (a = 2; a <= ncl; a++) for (b = a; b > 1 && names[b - 1] > names[b]; b--) { t = names[b]; names[b] = names[b - 1]; names[b - 1] = t }
      for (a = 1; a <= ncl; a++) {
        k = names[a]; n = 0
        for (key in ncls) { split(key, p, SUBSEP); if (p[1] == k) n++ }
        for (i = 1; i <= nm; i++) if (m[i] in present) {
          printf "%-22s", sprintf("%s (%d) %s", k, n, m[i])
          for (j = 1; j <= nr; j++) printf "%s", cell(sc[k SUBSEP m[i] SUBSEP r[j]], nc[k SUBSEP m[i] SUBSEP r[j]])
          printf "\n"
        }
      }
      if (worst > 0) {
        # The lowest grades first (a selection sort of the few asked for).
        printf "\nlowest %d grades\n", worst
        for (a = 1; a <= worst && a <= nrows; a++) {
          lo = a
          for (b = a + 1; b <= nrows; b++) { split(rows[b], x, "\t"); split(rows[lo], y, "\t"); if (x[1] + 0 < y[1] + 0) lo = b }
          t = rows[a]; rows[a] = rows[lo]; rows[lo] = t
          split(rows[a], x, "\t")
          printf "  %+6.2f  %-28s %4s kb/s  %s\n", x[1], x[2], x[3], x[4]
        }
      }
    }' "$output"

fi
[ -n "$from" ] && exit 0
echo
echo "compare-modes: $done_runs of $runs runs in $seconds s; per clip: $output"
if [ "$failed" != 0 ] || [ "$done_runs" != "$runs" ]; then
  echo "compare-modes: $((runs - done_runs)) runs failed (said above)" >&2
  exit 1
fi
