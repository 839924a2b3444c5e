#!/bin/sh
# Builds the listening material for tuning and measuring the encoder's choices: 16-bit stereo
# 44100 Hz WAV clips of about 10 s, from Debian's packaged recordings and samples (speech
# synthesis, music, instrument and drum renderings, sound-theme samples) and from generated
# signals. Nothing of it belongs in the repository: the clips go to a folder of the build tree.
#
#   tools/make-material.sh [OUT_DIR]      (default: build/material)
#
# Needs sox; each other source is used when its package is installed and skipped, said so,
# when it is not:
#   espeak-ng                        speech
#   frozen-bubble-data               music recordings (Ogg Vorbis)
#   abcmidi, timidity, freepats      a tune and a drum pattern rendered from the ABC examples
#   sound-theme-freedesktop          short recorded samples (bells, a shutter, clicks)
# Every clip is rebuilt from scratch; the set is the same on every run.
set -eu

out=${1:-build/material}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

command -v sox >/dev/null || { echo "make-material: sox is needed (apt-get install sox)" >&2; exit 1; }

# to_wav NAME IN [EFFECT...]: IN through the effects into NAME.wav in the stream's format (stereo,
# 44100 Hz, 16 bits), without dither so that the clips are the same on every run.
to_wav() {
  dst=$1; src=$2; shift 2
  sox -D "$src" -r 44100 -c 2 -b 16 "$out/$dst.wav" "$@"
  echo "make-material: $out/$dst.wav"
}

skip() { echo "make-material: skipped $1 ($2 not installed)" >&2; }

# Speech: two voices, one in each channel's foreground.
if command -v espeak-ng >/dev/null; then
  espeak-ng -v en -s 150 -w "$tmp/s1.wav" \
    "The quick brown fox jumps over the lazy dog. Seven silver spoons lay on the kitchen table, \
while the kettle whistled softly in the morning light."
  espeak-ng -v de -s 140 -p 70 -w "$tmp/s2.wav" \
    "Zwölf Boxkämpfer jagen Viktor quer über den großen Sylter Deich, und niemand hält sie auf."
  sox -D "$tmp/s1.wav" -r 44100 "$tmp/s1r.wav"
  sox -D "$tmp/s2.wav" -r 44100 "$tmp/s2r.wav"
  sox -D -M "$tmp/s1r.wav" "$tmp/s2r.wav" "$tmp/speech.wav" remix 1v0.8,2v0.3 1v0.3,2v0.8
  to_wav speech "$tmp/speech.wav" norm -3
else
  skip speech espeak-ng
fi

# Music recordings.
snd=/usr/share/games/frozen-bubble/snd
if [ -f "$snd/frozen-mainzik-1p.ogg" ]; then
  to_wav music-band "$snd/frozen-mainzik-1p.ogg" trim 40 10
  to_wav music-intro "$snd/introzik.ogg" trim 20 10
  to_wav applause "$snd/applause.ogg" repeat 4 trim 0 8
else
  skip "music recordings" frozen-bubble-data
fi

# A tune and drums rendered from the ABC examples.
abc=/usr/share/doc/abcmidi/examples
if command -v abc2midi >/dev/null && command -v timidity >/dev/null && [ -f "$abc/coleraine.abc" ]; then
  # The freepats set directly: the default configuration may name a sound font that is absent.
  cfg=
  [ -f /etc/timidity/freepats.cfg ] && cfg="-c /etc/timidity/freepats.cfg"
  for tune in coleraine drums; do
    abc2midi "$abc/$tune.abc" -o "$tmp/$tune.mid" >/dev/null
    # shellcheck disable=SC2086
    timidity $cfg -idq -Ow -s 44100 -o "$tmp/$tune.wav" "$tmp/$tune.mid" >/dev/null 2>&1
  done
  to_wav tune "$tmp/coleraine.wav" trim 0 10 norm -1
  to_wav drums "$tmp/drums.wav" trim 0 10 norm -1
else
  skip "ABC renderings" "abcmidi, timidity or freepats"
fi

# Short recorded samples, one after the other.
theme=/usr/share/sounds/freedesktop/stereo
if [ -f "$theme/bell.oga" ]; then
  for s in bell camera-shutter dialog-warning complete phone-incoming-call message; do
    sox -D "$theme/$s.oga" -r 44100 -c 2 "$tmp/$s.wav"
  done
  sox -D "$tmp/bell.wav" "$tmp/camera-shutter.wav" "$tmp/dialog-warning.wav" "$tmp/complete.wav" \
    "$tmp/phone-incoming-call.wav" "$tmp/message.wav" "$tmp/samples.wav"
  to_wav samples "$tmp/samples.wav"
else
  skip "recorded samples" sound-theme-freedesktop
fi

# Generated: a plucked-string chord progression (tonal, steady) and castanet-like clicks over a
# quiet pad (sharp transients in near-silence, where pre-echo is audible).
sox -D -n -r 44100 -c 2 "$tmp/chord1.wav" synth 2.5 pluck C3 pluck G3 fade 0 2.5 0.3
sox -D -n -r 44100 -c 2 "$tmp/chord2.wav" synth 2.5 pluck A2 pluck E3 fade 0 2.5 0.3
sox -D "$tmp/chord1.wav" "$tmp/chord2.wav" "$tmp/chord1.wav" "$tmp/chord2.wav" "$tmp/pluck.wav"
to_wav pluck "$tmp/pluck.wav" norm -3
sox -D -n -r 44100 -c 1 "$tmp/click.wav" synth 0.004 whitenoise fade 0 0.004 0.0035 pad 0 0.496 repeat 19
sox -D -n -r 44100 -c 1 "$tmp/pad.wav" synth 10 sine 220 sine 330 vol 0.02
sox -D -m "$tmp/click.wav" "$tmp/pad.wav" -c 2 "$tmp/clicks.wav"
to_wav clicks "$tmp/clicks.wav" norm -2
