#!/bin/sh
# Builds the listening material for tuning and measuring the encoder's choices: 16-bit stereo
# 44100 Hz WAV clips of 8 to 15 s from Debian's packaged recordings, samples and synthesis.
# Nothing of it belongs in the repository: the clips go to a folder of the build tree.
#
#   tools/make-material.sh [OUT_DIR]              (default: build/material)
#   tools/make-material.sh --check [OUT_DIR]      (default: build/material-check)
#   tools/make-material.sh --bass [OUT_DIR]       (default: build/material-bass)
#
# Each clip's name starts with its class (speech-, solo-, tonal-, transient-, drums-, dense-,
# wide-, mono-, noise-, quiet-, loud-), so that tools/compare-modes.sh can print means per
# class. The packages are those of the `material` group of tools/install-deps.sh (run
# `tools/install-deps.sh material` or `make material`). sox is needed; every other source is
# used when its package is installed and skipped, said so, when it is not:
#   alsa-utils                  a recorded female English voice (the channel test samples)
#   festival, festvox-kallpc16k, festvox-us-slt-hts   male and female English speech
#   espeak-ng                   speech in German, French and Spanish
#   fillets-ng-data(-cs)        recorded dialogue (Czech, a male and a female voice; German and
#                               Russian shouts) and keyboard typing
#   abcmidi, fluidsynth, fluid-soundfont-gm   tunes written below, played by sampled
#                               instruments (harpsichord, harmonica, glockenspiel, piano, guitar,
#                               violin, flute, castanets)
#   hydrogen-drumkits           recorded acoustic drum kits and hand percussion, sequenced here,
#                               and hand claps made into applause
#   frozen-bubble-data          band recordings and applause
#   wesnoth-1.16-music          orchestral and choir recordings
#   sound-theme-freedesktop     short recorded chimes and a shutter
# Every clip is rebuilt from scratch and the set is the same on every run: no dither (sox -D),
# fixed seeds for the generated noise (sox -R), fixed excerpts.
#
# --check builds a second set that no choice of the encoder was tuned on, to see whether what the
# first set rewards holds elsewhere: 15 clips of 10 s from the recorded loops and instruments of
# sonic-pi-samples (drum loops, tabla, band and electronic loops, guitar, a drone, ambience),
# most of them carrying energy up to 20 kHz, which few clips of the first set do.
#
# --bass builds a third set for the masking of the bass by a loud sub-bass: 10 mixes of 10 s of
# sonic-pi-samples' bass notes and kicks, repeated, under a drum loop, an instrument or a choir.
set -eu

kind=tuning  # the set to build: tuning, check or bass
case ${1:-} in
  --check) kind=check; shift ;;
  --bass) kind=bass; shift ;;
esac
out=${1:-build/material}
[ $kind = tuning ] || out=${1:-build/material-$kind}
mkdir -p "$out"
# Clips of an earlier run, or of a source since removed, would be graded with the new ones.
rm -f "$out"/*.wav
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# sox says only what went wrong, not what a trim past the end or a level near full scale does.
SOX_OPTS=-V1
export SOX_OPTS

command -v sox >/dev/null || {
  echo "make-material: sox is needed (tools/install-deps.sh material, or apt-get install sox)" >&2
  exit 1
}

made=0
skipped=0

# to_wav NAME IN [EFFECT...]: IN through the effects into NAME.wav in the stream's format (stereo,
# 44100 Hz, 16 bits), without dither so that the clips are the same on every run. A clip outside
# 8 to 15 s is an error of this script.
to_wav() {
  dst=$1; src=$2; shift 2
  sox -D -R "$src" -r 44100 -c 2 -b 16 "$out/$dst.wav" "$@"
  seconds=$(soxi -D "$out/$dst.wav")
  if ! awk -v s="$seconds" 'BEGIN { exit !(s >= 8 && s <= 15) }'; then
    echo "make-material: $dst is $seconds s long, not 8 to 15 s" >&2
    rm -f "$out/$dst.wav"
    exit 1
  fi
  made=$((made + 1))
  printf 'make-material: %-28s %5.2f s\n' "$dst.wav" "$seconds"
}

skip() {
  skipped=$((skipped + 1))
  echo "make-material: skipped $1 ($2 not installed)" >&2
}

# join OUT GAP IN...: the inputs one after the other, each as 44100 Hz mono followed by GAP
# seconds of silence.
join() {
  dst=$1; gap=$2; shift 2
  i=0
  for f in "$@"; do
    i=$((i + 1))
    sox -D "$f" -r 44100 -c 1 -b 16 "$tmp/join-$i.wav" vol 0.5 pad 0 "$gap"
  done
  set --
  j=1
  while [ "$j" -le "$i" ]; do set -- "$@" "$tmp/join-$j.wav"; j=$((j + 1)); done
  sox -D "$@" "$dst"
  rm -f "$tmp"/join-*.wav
}

# The check and bass sets are made from sonic-pi-samples.
samples=/usr/share/sonic-pi/samples
if [ $kind != tuning ] && [ ! -f "$samples/loop_amen_full.flac" ]; then
  echo "make-material: the $kind set needs sonic-pi-samples (tools/install-deps.sh material)" >&2
  exit 1
fi

# ---------------------------------------------------------------------------------------------
# The check set.

if [ $kind = check ]; then
  # Each clip is its sample repeated to 10 s.
  for clip in drums-amen:loop_amen_full drums-breakbeat:loop_breakbeat drums-tabla:loop_tabla \
    drums-compus:loop_compus drums-perc:loop_perc1 dense-garzul:loop_garzul dense-mika:loop_mika \
    dense-safari:loop_safari dense-electric:loop_electric dense-weirdo:loop_weirdo \
    solo-guitar-em9:guit_em9 solo-guitar-fifths:guit_e_fifths tonal-drone:loop_drone_g_97 \
    noise-lunar:ambi_lunar_land transient-printer:loop_3d_printer; do
    to_wav "${clip%%:*}" "$samples/${clip#*:}.flac" repeat 6 trim 0 10
  done
  echo "make-material: $made clips in $out"
  exit 0
fi

# ---------------------------------------------------------------------------------------------
# The bass set.

if [ $kind = bass ]; then
  # NAME:BASS:TIMES:OVER:LEVEL: the bass sample with 0.1 s of silence after it, TIMES over, under
  # the sample OVER repeated, at LEVEL against the bass's full level.
  for mix in bass-dnb:bass_dnb_f:12:loop_amen:0.3 bass-808-piano:bd_808:20:ambi_piano:0.3 \
    bass-trance:bass_trance_c:12:elec_blip:0.4 bass-thick-guitar:bass_thick_c:8:guit_em9:0.3 \
    bass-boom-tabla:bd_boom:10:loop_tabla:0.3 bass-voxy-choir:bass_voxy_c:8:ambi_choir:0.3 \
    bass-kick-mika:drum_heavy_kick:20:loop_mika:0.4 bass-woodsy:bass_woodsy_c:10:loop_electric:0.3 \
    bass-hard-perc:bass_hard_c:10:loop_perc1:0.4 bass-drop-safari:bass_drop_c:6:loop_safari:0.3; do
    IFS=: read -r name bass times over level <<EOF_MIX
$mix
EOF_MIX
    sox -D "$samples/$bass.flac" -r 44100 -c 2 -b 16 "$tmp/bass.wav" pad 0 0.1
    sox -D "$tmp/bass.wav" "$tmp/basses.wav" repeat "$times" trim 0 10
    sox -D "$samples/$over.flac" -r 44100 -c 2 -b 16 "$tmp/over.wav" repeat 20 trim 0 10
    sox -D -m -v 1 "$tmp/basses.wav" -v "$level" "$tmp/over.wav" "$tmp/mix.wav" trim 0 10
    to_wav "$name" "$tmp/mix.wav" norm -1
  done
  echo "make-material: $made clips in $out"
  exit 0
fi

# ---------------------------------------------------------------------------------------------
# Speech.

# A recorded female voice (the channel test samples of alsa-utils, 48 kHz), in the middle.
alsa=/usr/share/sounds/alsa
if [ -f "$alsa/Front_Center.wav" ]; then
  join "$tmp/alsa.wav" 0.25 "$alsa/Front_Left.wav" "$alsa/Front_Right.wav" "$alsa/Front_Center.wav" \
    "$alsa/Rear_Left.wav" "$alsa/Rear_Right.wav" "$alsa/Rear_Center.wav" "$alsa/Side_Left.wav" \
    "$alsa/Side_Right.wav"
  to_wav speech-en-female "$tmp/alsa.wav" norm -3
else
  skip "speech-en-female" alsa-utils
fi

# Festival: a male diphone voice (16 kHz) and a female HMM voice (32 kHz).
if command -v text2wave >/dev/null; then
  text="The morning train to the coast was late again, so we walked along the river instead, \
past the old mill and the boats that were drawn up on the shingle for the winter."
  if [ -d /usr/share/festival/voices/english/kal_diphone ]; then
    echo "$text" | text2wave -eval '(voice_kal_diphone)' -o "$tmp/kal.wav"
    to_wav speech-en-male "$tmp/kal.wav" trim 0 11 norm -2
  else
    skip speech-en-male festvox-kallpc16k
  fi
  if [ -d /usr/share/festival/voices/us/cmu_us_slt_arctic_hts ]; then
    echo "$text" | text2wave -eval '(voice_cmu_us_slt_arctic_hts)' -o "$tmp/slt.wav"
    to_wav speech-en-female-hmm "$tmp/slt.wav" trim 0 11 norm -2
  else
    skip speech-en-female-hmm festvox-us-slt-hts
  fi
else
  skip "speech-en-male and speech-en-female-hmm" festival
fi

# Recorded dialogue of two fish, a small female and a big male one (Czech, 22 kHz).
fillets=/usr/share/games/fillets-ng/sound
if [ -f "$fillets/briefcase/cs/kuf-m-disk.ogg" ]; then
  d=$fillets/briefcase/cs
  join "$tmp/cs.wav" 0.3 "$d/kuf-m-disk.ogg" "$d/kuf-v-doprace.ogg" "$d/kuf-m-dodilny.ogg" \
    "$d/kuf-v-dotoho.ogg" "$d/kuf-m-je.ogg" "$d/kuf-v-hod.ogg" "$d/kuf-m-kousek.ogg" \
    "$d/kuf-v-jeste.ogg" "$d/kuf-m-nezvednu.ogg" "$d/kuf-v-napad.ogg"
  to_wav speech-cs-dialogue "$tmp/cs.wav" trim 0 12 norm -3
else
  skip speech-cs-dialogue fillets-ng-data-cs
fi

# Recorded male shouts and phrases, German and Russian words (fillets-ng-data).
if [ -f "$fillets/elk/en/deu-p-jawohl.ogg" ]; then
  d=$fillets/elk/en
  join "$tmp/elk.wav" 0.2 "$d/deu-p-jawohl.ogg" "$d/deu-l-tovarisci.ogg" "$d/deu-p-ordnung.ogg" \
    "$d/deu-l-neznaju.ogg" "$d/deu-p-schnell.ogg" "$d/deu-l-pozalsta.ogg" "$d/deu-p-stimmt.ogg" \
    "$d/deu-l-zivjot.ogg" "$d/deu-p-streng.ogg" "$d/deu-l-nesmotrel.ogg"
  to_wav speech-de-ru-male "$tmp/elk.wav" trim 0 12 norm -3
else
  skip speech-de-ru-male fillets-ng-data
fi

# espeak-ng: German in one voice and French in another, each in one channel's foreground;
# Spanish in the middle.
if command -v espeak-ng >/dev/null; then
  espeak-ng -v de -s 140 -w "$tmp/de.wav" \
    "Zwölf Boxkämpfer jagen Viktor quer über den großen Sylter Deich, und niemand hält sie auf. \
Am Abend sitzen sie müde im Gasthaus am Hafen und erzählen von ihrem langen Tag."
  espeak-ng -v fr+f3 -s 150 -p 60 -w "$tmp/fr.wav" \
    "Le vieux chat dort sur la fenêtre pendant que la pluie tombe sur les toits de la ville. \
Demain matin, nous irons au marché acheter du pain, des pommes et un peu de fromage."
  sox -D "$tmp/de.wav" -r 44100 "$tmp/de44.wav"
  sox -D "$tmp/fr.wav" -r 44100 "$tmp/fr44.wav"
  sox -D -M "$tmp/de44.wav" "$tmp/fr44.wav" "$tmp/defr.wav" remix 1v0.8,2v0.3 1v0.3,2v0.8
  to_wav speech-de-fr-synth "$tmp/defr.wav" trim 0 10 norm -3
  espeak-ng -v es -s 160 -w "$tmp/es.wav" \
    "El tren de la mañana llegó tarde otra vez, así que caminamos junto al río hasta el puerto, \
donde los pescadores ya vendían lo que habían traído del mar."
  to_wav mono-speech-es "$tmp/es.wav" trim 0 10 norm -3
else
  skip "speech-de-fr-synth and mono-speech-es" espeak-ng
fi

# ---------------------------------------------------------------------------------------------
# Tunes written here in ABC, played by the sampled instruments of the General MIDI sound font.
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
if command -v abc2midi >/dev/null && command -v fluidsynth >/dev/null && [ -f "$sf2" ]; then
  # tune NAME: the ABC text on standard input rendered into $tmp/NAME.wav (stereo, 44100 Hz,
  # with the sound font's own reverb and chorus).
  tune() {
    cat >"$tmp/$1.abc"
    abc2midi "$tmp/$1.abc" -o "$tmp/$1.mid" >/dev/null
    fluidsynth -n -i -q -g 0.5 -r 44100 -O s16 -T wav -F "$tmp/$1.wav" "$sf2" "$tmp/$1.mid" >/dev/null 2>&1
  }

  tune harpsichord <<'ABC'
X:1
M:4/4
L:1/16
Q:1/4=96
K:G
%%MIDI program 6
G,DGB dBGD G,EGB eBGE | A,EAc ecAE D,FAc fcAF | G,DGB dBGD C,EGc ecGE | D,FAd fdAF G,DGB gdBG |
E,B,EG BGEB, C,G,CE GECG, | D,A,DF AFDA, G,DGB [G,DGBg]4 |
ABC
  to_wav tonal-harpsichord "$tmp/harpsichord.wav" trim 0 13 norm -1

  # Sustained reed tones one after the other, as from a pitch pipe.
  tune pitchpipe <<'ABC'
X:1
M:4/4
L:1/4
Q:1/4=60
K:C
%%MIDI program 22
E,3 z | A,3 z | D3 z | G3 z | B3 z | e3 z |
ABC
  to_wav tonal-pitchpipe "$tmp/pitchpipe.wav" trim 0 14 norm -1

  tune glockenspiel <<'ABC'
X:1
M:3/4
L:1/8
Q:1/4=120
K:F
%%MIDI program 9
c2 A2 F2 | f3 e d2 | c2 B2 A2 | G6 | A2 c2 f2 | a3 g f2 | e2 g2 c'2 | f6 |
c2 A2 F2 | f3 e d2 | c2 e2 g2 | f6 |
ABC
  to_wav tonal-glockenspiel "$tmp/glockenspiel.wav" trim 0 12 norm -1

  tune piano <<'ABC'
X:1
M:4/4
L:1/8
Q:1/4=84
K:Eb
%%MIDI program 0
[E,B,G]2 B,E GB e2 | [C,G,E]2 G,C EG c2 | [A,,E,C]2 E,A, CE A2 | [B,,F,D]2 F,B, DF B2 |
[E,B,G]2 [G,B,E]2 [B,EG]2 [EGB]2 | [A,CF]3 [A,CE] [G,B,E]4 | [F,A,D]2 [F,B,D]2 [E,G,B,]4 |
ABC
  to_wav solo-piano "$tmp/piano.wav" trim 0 14 norm -1
  # The same piano, far quieter.
  to_wav quiet-piano "$tmp/piano.wav" trim 0 14 norm -36

  tune guitar <<'ABC'
X:1
M:6/8
L:1/8
Q:3/8=56
K:Am
%%MIDI program 24
A,EA cAE | A,EA cAE | G,DG BGD | G,DG BGD | F,CF AFC | E,B,E ^GEB, | A,EA cea | [A,EAc]6 |
ABC
  to_wav solo-guitar "$tmp/guitar.wav" trim 0 14 norm -1

  tune violin <<'ABC'
X:1
M:4/4
L:1/8
Q:1/4=72
K:D
%%MIDI program 40
A4 d3 e | f2 e2 d2 c2 | B4 A3 F | A8 | d4 f3 g | a2 g2 f2 e2 | d8 |
ABC
  to_wav solo-violin "$tmp/violin.wav" trim 0 13 norm -1

  # Castanets (key 85 of the General MIDI drums) alone: rolls, single clicks and rests.
  tune castanets <<'ABC'
X:1
M:3/4
L:1/16
Q:1/4=100
K:C
%%MIDI channel 10
^c'2^c'^c' ^c'2z2 ^c'4 | ^c'^c'^c'^c' ^c'2^c'2 z4 | ^c'2^c'^c' ^c'2z2 ^c'2^c'2 | ^c'^c'^c'^c' ^c'^c'^c'^c' ^c'4 |
z2^c'^c' ^c'2z2 ^c'4 | ^c'^c'^c'^c' ^c'2^c'2 z4 | ^c'2z2 ^c'2z2 ^c'^c'^c'^c' | ^c'4 z8 |
ABC
  to_wav transient-castanets "$tmp/castanets.wav" trim 0 14 norm -1

  # A flute on the left and a nylon guitar on the right, nothing in the middle.
  tune duet <<'ABC'
X:1
M:4/4
L:1/8
Q:1/4=90
K:G
V:1
%%MIDI program 73
%%MIDI control 10 0
d3 B G2 B2 | c3 A F2 A2 | B2 d2 g2 f2 | e4 d4 | c3 A F2 A2 | B3 G E2 G2 | A2 F2 D2 F2 | G8 |
V:2
%%MIDI program 24
%%MIDI control 10 127
G,DGD G,DGD | D,A,DA, D,A,DA, | G,DGD E,B,EB, | C,G,CG, D,A,DA, | D,A,DA, D,A,DA, | E,B,EB, C,G,CG, | D,A,DA, D,A,DF | G,DGB [G,DG]4 |
ABC
  to_wav wide-duet "$tmp/duet.wav" trim 0 13 norm -1
else
  skip "the tunes (tonal-harpsichord, tonal-pitchpipe, tonal-glockenspiel, solo-piano, quiet-piano, \
solo-guitar, solo-violin, transient-castanets, wide-duet)" "abcmidi, fluidsynth or fluid-soundfont-gm"
fi

# ---------------------------------------------------------------------------------------------
# Drums: recorded kit samples placed on a grid.

# beat OUT STEP SAMPLE PATTERN [SAMPLE PATTERN...]: one pass of every pattern (x: a hit, .: a
# rest, one character a STEP seconds long) mixed at full level into OUT, stereo 44100 Hz.
beat() {
  dst=$1; step=$2; shift 2
  n=0
  while [ $# -ge 2 ]; do
    sample=$1; pattern=$2; shift 2
    sox -D "$sample" -r 44100 -c 2 -b 16 "$tmp/hit.wav"
    k=0
    rest=$pattern
    while [ -n "$rest" ]; do
      c=${rest%"${rest#?}"}; rest=${rest#?}
      if [ "$c" = x ]; then
        n=$((n + 1))
        sox -D "$tmp/hit.wav" "$tmp/beat-$n.wav" pad "$(awk -v k="$k" -v s="$step" 'BEGIN { printf "%.6f", k * s }')"
      fi
      k=$((k + 1))
    done
  done
  set --
  j=1
  while [ "$j" -le "$n" ]; do set -- "$@" -v 1 "$tmp/beat-$j.wav"; j=$((j + 1)); done
  sox -D -m "$@" -b 16 "$dst" vol 0.5
  rm -f "$tmp"/beat-*.wav
}

kits=/usr/share/hydrogen/data/drumkits
if [ -d "$kits/ColomboAcousticDrumkit" ]; then
  k=$kits/ColomboAcousticDrumkit
  # Two bars of a rock beat in 1/16 steps at 100 beats a minute, a fill and a crash.
  beat "$tmp/kit.wav" 0.15 \
    "$k/bassdrum-4mics-br-stereo-normal3.flac" "x.....x.x.......x.....x.x......." \
    "$k/snare-opaque-normal-mic-normal_shot2.flac" "....x.......x.......x.......x.x." \
    "$k/hihat-closed-1.flac" "x.x.x.x.x.x.x.x.x.x.x.x.x.x.x..." \
    "$k/hihat-open-1.flac" "..............x..............x.." \
    "$k/crash16i__crash1.flac" "x..............................." \
    "$k/tom-hi-1.flac" "..........................x....." \
    "$k/tom-low-1.flac" "...........................x...."
  sox -D "$tmp/kit.wav" "$tmp/kit2.wav" trim 0 4.8 repeat 2
  to_wav drums-acoustic "$tmp/kit2.wav" norm -1
  # The same kit squeezed to full scale, as mastered for loudness.
  to_wav loud-drums "$tmp/kit2.wav" compand 0.002,0.08 6:-60,-60,-30,-12,0,-3 0 -6 norm -0.1
else
  skip "drums-acoustic and loud-drums" hydrogen-drumkits
fi
if [ -d "$kits/Gimme A Hand 1.0" ]; then
  k="$kits/Gimme A Hand 1.0"
  # Hand percussion in 1/8-note triplets at 96 beats a minute.
  beat "$tmp/hand.wav" 0.2083 \
    "$k/CajonThumps-Hard.wav" "x.....x.....x.....x....." \
    "$k/CajonSlaps-Med.wav" "...x.....x.x...x.....x.x" \
    "$k/BongoHi-Med.wav" ".x.x.x.x..x..x.x.x.x..x." \
    "$k/BongoLo-Soft.wav" "..x.....x.....x.....x..x" \
    "$k/Clave-Med.wav" "x..x..x...x.x..x..x...x." \
    "$k/Maraca-Soft.wav" "xxxxxxxxxxxxxxxxxxxxxxxx"
  sox -D "$tmp/hand.wav" "$tmp/hand2.wav" trim 0 5 repeat 1
  to_wav drums-hand "$tmp/hand2.wav" norm -1
else
  skip drums-hand hydrogen-drumkits
fi

if [ -d "$kits/ForzeeStereo" ]; then
  k=$kits/ForzeeStereo
  # A swung ride cymbal with hi-hat, kick and snare, in 1/8-note triplets at 120 beats a minute:
  # cymbal noise up to the top of the band.
  beat "$tmp/ride.wav" 0.16667 \
    "$k/Ride-2.wav" "x..x.xx..x.xx..x.xx..x.x" \
    "$k/HiHatFoot-2.wav" "...x.....x.....x.....x.." \
    "$k/Kick-1.wav" "x...........x.....x....." \
    "$k/Snare-1.wav" "..........x..........x.x"
  sox -D "$tmp/ride.wav" "$tmp/ride2.wav" trim 0 4 repeat 2
  to_wav drums-ride "$tmp/ride2.wav" norm -1
else
  skip drums-ride hydrogen-drumkits
fi
if [ -d "$kits/Gimme A Hand 1.0" ]; then
  k="$kits/Gimme A Hand 1.0"
  # Applause: twelve people clapping at their own uneven pace and strength, each at their own
  # place between the loudspeakers. The pace, strength and place come from a fixed
  # pseudo-random sequence.
  for v in Softest Soft Med Hard Hardest; do
    sox -D "$k/HandClap-$v.wav" -r 44100 -c 1 -b 16 "$tmp/clap-$v.wav"
  done
  p=1
  while [ "$p" -le 12 ]; do
    awk -v seed="$p" 'BEGIN {
      x = seed * 7919 + 17
      t = 0
      while (t < 11) {
        x = (x * 16807) % 2147483647; gap = 0.2 + 0.15 * x / 2147483647
        x = (x * 16807) % 2147483647; v = int(5 * x / 2147483647)
        x = (x * 16807) % 2147483647; g = 0.4 + 0.6 * x / 2147483647
        split("Softest Soft Med Hard Hardest", name, " ")
        printf "%s %.3f %.4f\n", name[v + 1], g, gap
        t += gap
      }
      x = (x * 16807) % 2147483647; printf "pan %.3f\n", x / 2147483647
      x = (x * 16807) % 2147483647; printf "start %.3f\n", 0.3 * x / 2147483647
    }' >"$tmp/clapper.txt"
    set --
    i=0
    while read -r v g gap; do
      case $v in
        pan) pan=$g ;;
        start) start=$g ;;
        *)
          i=$((i + 1))
          sox -D "$tmp/clap-$v.wav" "$tmp/one-$i.wav" vol "$g" trim 0 "$gap" fade 0 "$gap" 0.03
          set -- "$@" "$tmp/one-$i.wav" ;;
      esac
    done <"$tmp/clapper.txt"
    left=$(awk -v p="$pan" 'BEGIN { printf "%.3f", cos(p * 1.5708) }')
    right=$(awk -v p="$pan" 'BEGIN { printf "%.3f", sin(p * 1.5708) }')
    sox -D "$@" "$tmp/clapper-$p.wav" pad "$start" remix 1v"$left" 1v"$right"
    rm -f "$tmp"/one-*.wav
    p=$((p + 1))
  done
  set --
  p=1
  while [ "$p" -le 12 ]; do set -- "$@" -v 1 "$tmp/clapper-$p.wav"; p=$((p + 1)); done
  sox -D -m "$@" "$tmp/claps.wav" vol 0.2
  to_wav noise-claps "$tmp/claps.wav" trim 0 11 norm -1
else
  skip noise-claps hydrogen-drumkits
fi

# Typing on a keyboard: recorded key, space and enter sounds at an uneven pace.
if [ -f "$fillets/linux/en/key0.ogg" ]; then
  d=$fillets/linux/en
  set --
  i=0
  while [ "$i" -lt 75 ]; do
    case $((i % 11)) in
      5) set -- "$@" "$d/space$((i % 18)).ogg" ;;
      10) set -- "$@" "$d/enter$((i % 14)).ogg" ;;
      *) set -- "$@" "$d/key$((i % 30)).ogg" ;;
    esac
    i=$((i + 1))
  done
  join "$tmp/typing.wav" 0.02 "$@"
  to_wav transient-typing "$tmp/typing.wav" trim 0 10 norm -2
else
  skip transient-typing fillets-ng-data
fi

# ---------------------------------------------------------------------------------------------
# Recordings of bands, orchestra and choir; applause.
snd=/usr/share/games/frozen-bubble/snd
if [ -f "$snd/frozen-mainzik-1p.ogg" ]; then
  to_wav dense-band "$snd/frozen-mainzik-1p.ogg" trim 40 10
  to_wav dense-intro "$snd/introzik.ogg" trim 20 10
  # Nearly mono: the channels mixed to 55/45 of each other.
  to_wav mono-band "$snd/frozen-mainzik-2p.ogg" trim 30 10 remix 1v0.55,2v0.45 1v0.45,2v0.55
  # Squeezed to full scale (without look-ahead: with it sox's compressor stalls on some stereo input).
  sox -D "$snd/frozen-mainzik-2p.ogg" -r 44100 -c 2 "$tmp/band2.wav" trim 60 10
  to_wav loud-band "$tmp/band2.wav" compand 0.005,0.1 6:-60,-60,-24,-10,0,-3 0 -6 norm -0.1
  to_wav noise-applause "$snd/applause.ogg" repeat 4 trim 0 10
else
  skip "dense-band, dense-intro, mono-band, loud-band and noise-applause" frozen-bubble-data
fi

music=
for d in /usr/share/games/wesnoth/*/data/core/music; do [ -f "$d/nunc_dimittis.ogg" ] && music=$d; done
if [ -n "$music" ]; then
  to_wav dense-orchestra "$music/battle-epic.ogg" trim 20 12
  to_wav dense-choir "$music/nunc_dimittis.ogg" trim 30 12
  # A wide recording widened further: each channel less a third of the other.
  to_wav wide-minstrels "$music/traveling_minstrels.ogg" trim 15 12 remix 1v1.0,2v-0.35 1v-0.35,2v1.0 norm -1
  to_wav quiet-elves "$music/elvish-theme.ogg" trim 0 12 norm -30
else
  skip "dense-orchestra, dense-choir, wide-minstrels and quiet-elves" wesnoth-1.16-music
fi

# Short recorded chimes, a camera shutter and a crumpling, one after the other.
theme=/usr/share/sounds/freedesktop/stereo
if [ -f "$theme/bell.oga" ]; then
  join "$tmp/chimes.wav" 0.1 "$theme/bell.oga" "$theme/camera-shutter.oga" "$theme/dialog-warning.oga" \
    "$theme/complete.oga" "$theme/phone-incoming-call.oga" "$theme/message.oga" \
    "$theme/service-login.oga" "$theme/message-new-instant.oga" "$theme/trash-empty.oga" \
    "$theme/service-logout.oga" "$theme/window-attention.oga" "$theme/suspend-error.oga"
  to_wav tonal-chimes "$tmp/chimes.wav" trim 0 10 norm -1
else
  skip tonal-chimes sound-theme-freedesktop
fi

# ---------------------------------------------------------------------------------------------
# Generated with sox alone (always built).

# Plucked-string chords (tonal, steady).
sox -D -n -r 44100 -c 2 "$tmp/chord1.wav" synth 2.5 pluck C3 pluck G3 fade 0 2.5 0.3
sox -D -n -r 44100 -c 2 "$tmp/chord2.wav" synth 2.5 pluck A2 pluck E3 fade 0 2.5 0.3
sox -D "$tmp/chord1.wav" "$tmp/chord2.wav" "$tmp/chord1.wav" "$tmp/chord2.wav" "$tmp/pluck.wav"
to_wav tonal-pluck "$tmp/pluck.wav" norm -3

# Castanet-like clicks over a quiet pad: sharp transients in near-silence, where pre-echo is
# audible.
sox -D -R -n -r 44100 -c 1 "$tmp/click.wav" synth 0.004 whitenoise fade 0 0.004 0.0035 pad 0 0.496 repeat 19
sox -D -n -r 44100 -c 1 "$tmp/pad.wav" synth 10 sine 220 sine 330 vol 0.02
sox -D -m "$tmp/click.wav" "$tmp/pad.wav" -c 2 "$tmp/clicks.wav"
to_wav transient-clicks "$tmp/clicks.wav" norm -2

# Rain-like noise: independent pink noise in each channel, swelling and fading, with brown noise
# under it.
sox -D -R -n -r 44100 -c 2 "$tmp/pink.wav" synth 12 pinknoise tremolo 0.15 60
sox -D -R -n -r 44100 -c 2 "$tmp/brown.wav" synth 12 brownnoise vol 0.3
sox -D -m "$tmp/pink.wav" "$tmp/brown.wav" "$tmp/rain.wav"
to_wav noise-rain "$tmp/rain.wav" norm -6

echo "make-material: $made clips in $out ($skipped sources skipped)"
