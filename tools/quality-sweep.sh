#!/bin/sh
# Tries one setting of the quality mode's model constants on both material sets and says what it
# changes against a baseline: the means per rate, and per rate the class and the clip that lose
# most. The constants are those psycho/QualityTuning.h lets the environment override (QT_<NAME>);
# the build is a tuning build of its own (cmake -DOSTREL_QUALITY_TUNING=ON), which this script
# configures and builds when it is missing.
#
#   tools/quality-sweep.sh [-r "RATES"] NAME [QT_NAME=VALUE...]
#
#   NAME      the run's name; its figures go to build-tuning/sweeps/NAME-tuning.tsv and
#             NAME-check.tsv (compare-modes' format). The baseline every run is compared with is
#             the build's own defaults, graded once per build of the encoder and rate
#             (sweeps/base-ID-*.tsv, ID from the encoder's checksum): a change of the code gets a
#             baseline of its own, and a rate missing from it is added.
#   -r        rates in kb/s (default: "96 128")
#
# The material comes from tools/make-material.sh: build/material (the tuning set, without the two
# clips added after the tuning began, drums-ride and noise-claps) and build/material-check (the
# check set, which nothing was tuned on). `make material` builds both. A change is worth keeping
# when the tuning set's means rise and no class there loses more than 0.05; the check set says
# whether that holds beyond the material it was tuned on.
set -eu

die() { echo "quality-sweep: $*" >&2; exit 2; }
rates="96 128"
while [ $# -gt 0 ]; do
  case $1 in
    -r) [ $# -ge 2 ] || die "-r needs a list of rates"; rates=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -eu/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || die "a run needs a name (see --help)"
name=$1
shift
for setting in "$@"; do
  case $setting in QT_*=*) ;; *) die "'$setting' is not a QT_<NAME>=VALUE setting" ;; esac
done
case $name in base|base-*) die "base is the baseline's name: choose another" ;; esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-tuning
sweeps=$build/sweeps
for set in material material-check; do
  [ -d "$root/build/$set" ] || die "no $root/build/$set: make material builds it"
done
# Configured once; built every time, so that the programs are those of the code as it stands.
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DOSTREL_QUALITY_TUNING=ON -DOSTREL_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target ostrelenc ostreldec ostrelcmp >/dev/null || die "the tuning build failed"
mkdir -p "$sweeps"
base=base-$(md5sum "$build/ostrelenc" | cut -c1-8)

# run RATES NAME SETTING...: both sets at RATES.
run() {
  run_rates=$1
  run_name=$2
  shift 2
  for set in tuning check; do
    dir=$root/build/material
    [ $set = tuning ] || dir=$root/build/material-check
    out=$sweeps/$run_name-$set.tsv
    log=$sweeps/$run_name-$set.log
    env "$@" "$root/tools/compare-modes.sh" -m quality -p none -r "$run_rates" -o "$out" "$build" "$dir" \
      >/dev/null 2>"$log" || { cat "$log" >&2; die "compare-modes failed on the $set set ($run_name)"; }
  done
}
# The rates the baseline lacks are graded and added to it.
missing=
for r in $rates; do
  for set in tuning check; do
    if [ ! -f "$sweeps/$base-$set.tsv" ] ||
       ! awk -F'\t' -v r="$r" '$3 == r { found = 1 } END { exit !found }' "$sweeps/$base-$set.tsv"; then
      missing="$missing $r"
      break
    fi
  done
done
if [ -n "$missing" ]; then
  run "$missing" "$base-add"
  for set in tuning check; do
    if [ -f "$sweeps/$base-$set.tsv" ]; then
      tail -n +2 "$sweeps/$base-add-$set.tsv" >>"$sweeps/$base-$set.tsv"
    else
      cp "$sweeps/$base-add-$set.tsv" "$sweeps/$base-$set.tsv"
    fi
    rm -f "$sweeps/$base-add-$set.tsv" "$sweeps/$base-add-$set.log"
  done
fi
run "$rates" "$name" "$@"

for set in tuning check; do
  awk -F'\t' -v set="$set" -v name="$name" -v rates="$rates" '
    FNR == 1 { file++; next }
    set == "tuning" && ($1 == "drums-ride" || $1 == "noise-claps") { next }
    $5 == "NA" { next }
    file == 1 { base[$1 SUBSEP $3] = $5; next }
    ($1 SUBSEP $3) in base {
      d = $5 - base[$1 SUBSEP $3]
      n[$3]++; sum[$3] += $5; delta[$3] += d
      cn[$3 SUBSEP $2]++; cd[$3 SUBSEP $2] += d
      if (!(($3) in worst) || d < worst[$3]) { worst[$3] = d; worstclip[$3] = $1 }
    }
    END {
      line = sprintf("%-12s %-6s", name, set)
      k = split(rates, r, " ")
      for (i = 1; i <= k; i++) {
        x = r[i]
        if (!n[x]) continue
        lowc = ""; low = 0
        for (key in cn) {
          split(key, p, SUBSEP)
          if (p[1] != x) continue
          m = cd[key] / cn[key]
          if (lowc == "" || m < low) { low = m; lowc = p[2] }
        }
        line = line sprintf(" | %s: %+.3f (%+.3f), %s %+.2f, %s %+.2f", x, sum[x] / n[x], delta[x] / n[x],
                            lowc, low, worstclip[x], worst[x])
      }
      print line
    }' "$sweeps/$base-$set.tsv" "$sweeps/$name-$set.tsv"
done
