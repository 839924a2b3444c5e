#!/bin/sh
# The Windows programs, run under wine, against the same programs of the native (Linux) build:
# the same stream bytes at several rates, the same decoded samples, and the same messages and
# exit statuses for bad input.
# Usage: same-as-host.sh HOST_BUILD WINDOWS_BUILD EMULATOR...   (the emulator's words have no blanks)
# Exit 77 (skipped) when the native programs are not built.
set -u
host=$1 win=$2
shift 2
emulator="$*"
for p in ostrelenc ostreldec ostrelgen; do
  if [ ! -x "$host/$p" ]; then
    echo "skipped: the native $p is not built in $host (cmake --build build --target ostrelenc ostreldec ostrelgen)"
    exit 77
  fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-windows-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() { echo "FAILED: $*"; failed=1; }

"$host/ostrelgen" x.wav 6 >/dev/null || exit 1
# The emulator's first start in a fresh prefix, beside another test starting it too, once failed
# with no message; a first run whose outcome is not judged takes that start.
$emulator "$win/ostrelenc.exe" --version >/dev/null 2>&1
for kbps in 96 128 192 392; do
  "$host/ostrelenc" -q -b $kbps x.wav -o native-$kbps.ost || fail "native encoder at $kbps kb/s"
  $emulator "$win/ostrelenc.exe" -q -b $kbps x.wav -o windows-$kbps.ost || fail "Windows encoder at $kbps kb/s"
  cmp native-$kbps.ost windows-$kbps.ost || fail "the streams at $kbps kb/s differ"
done
"$host/ostreldec" -q native-128.ost -o native.wav || fail "native decoder"
$emulator "$win/ostreldec.exe" -q native-128.ost -o windows.wav || fail "Windows decoder"
cmp native.wav windows.wav || fail "the decoded samples differ"
# Through pipes: standard input to standard output, both ways.
"$host/ostrelenc" -q -b 128 - -o - < x.wav > native-pipe.ost
$emulator "$win/ostrelenc.exe" -q -b 128 - -o - < x.wav > windows-pipe.ost
cmp native-pipe.ost windows-pipe.ost || fail "the streams through pipes differ"
"$host/ostreldec" -q - -o - < native-128.ost > native-pipe.wav
$emulator "$win/ostreldec.exe" -q - -o - < native-128.ost > windows-pipe.wav
cmp native-pipe.wav windows-pipe.wav || fail "the samples through pipes differ"

# Bad input: a missing file, a file that is not sound, a stream cut short, an output that exists.
printf 'not a sound file at all' > text.wav
head -c 5000 native-128.ost > cut.ost
: > exists.ost
check() {  # check NAME PROGRAM ARGS...: the same status and the same words (line ends aside)
  name=$1 program=$2
  shift 2
  run "$name" "$program" "$@"
  cmp -s native.err windows.err.lf || { fail "$name: the messages differ"; diff native.err windows.err.lf; }
}
run() {  # run NAME PROGRAM ARGS...: both programs; the same exit status
  name=$1 program=$2
  shift 2
  "$host/$program" "$@" > native.out 2> native.err
  native=$?
  $emulator "$win/$program.exe" "$@" > windows.out 2> windows.err
  windows=$?
  [ $native = $windows ] || fail "$name: exit status $native natively, $windows on Windows"
  tr -d '\r' < windows.err > windows.err.lf
}
check "missing source" ostrelenc -q -b 128 missing.wav -o missing.ost
# The native build may read more formats (libsndfile); the Windows one says what it reads.
run "not a sound file" ostrelenc -q -b 128 text.wav -o text.ost
grep -q "this build reads only 16-bit PCM WAV, 2 channels, 44100 Hz" windows.err.lf ||
  fail "not a sound file: the Windows encoder does not say what it reads: $(cat windows.err.lf)"
check "output exists" ostrelenc -q -b 128 x.wav -o exists.ost
check "stream cut short" ostreldec -q -f cut.ost -o cut.wav
check "not a stream" ostreldec -q -f text.wav -o text-decoded.wav
[ -s exists.ost ] && fail "an existing output was written over"
[ -e text.ost ] && fail "a refused source left an output"
[ $failed = 0 ] && echo "the Windows programs give the native bytes, samples and messages"
exit $failed
