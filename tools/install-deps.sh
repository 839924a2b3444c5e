#!/bin/sh
# Checks the Debian packages a part of the build wants and installs the missing ones: as root with
# `apt-get update` (once) and `apt-get install -y`; otherwise it prints the one command to run and
# goes on. Only a required package that cannot be installed is an error; without an optional one
# the build leaves its part out.
# Usage: tools/install-deps.sh [GROUP...]   (default: build; the groups are those of the list)
set -u

# group      package                           need      what for   (no apostrophes: the list is one quoted string)
PACKAGES='
build        libasound2-dev                    optional  the system sound output (ALSA)
build        libedit-dev                       optional  line editing in the dialogue of the encoder (libedit)
build        libgtest-dev                      optional  the unit tests (GoogleTest)
build        libpng-dev                        optional  ostrelcmp --plot (PNG heat maps)
build        libsndfile1-dev                   optional  sources other than 16-bit stereo 44100 Hz WAV (libsndfile)
build        libsoxr-dev                       optional  sources at other sample rates (libsoxr resampler)
build        libebur128-dev                    optional  ostrelenc --replay-gain (EBU R 128 loudness, libebur128)
build        pkg-config                        optional  finding the development files of libsndfile, libsoxr and GStreamer
build        libgstreamer1.0-dev               optional  the GStreamer plugin
build        libgstreamer-plugins-base1.0-dev  optional  the GStreamer plugin (audio base classes)
build        gstreamer1.0-tools                optional  tests of the plugin (gst-launch-1.0, gst-inspect-1.0)
build        gstreamer1.0-plugins-base         optional  tests of the plugin (audioconvert, playbin, decodebin)
build        gstreamer1.0-plugins-good         optional  tests of the plugin (wavparse, wavenc)
build        gstreamer1.0-plugins-base-apps    optional  gst-play-1.0
build        python3-numpy                     optional  the Python package ostrel and its tests (numpy arrays)
build        python3-pytest                    optional  the tests of the Python package (pytest)
build        python3-setuptools                optional  installing the Python package (pip install ./python, make install)
vlc          libvlccore-dev                    optional  the VLC module
vlc          vlc-bin                           optional  tests of the VLC module (cvlc)
vlc          vlc-plugin-base                   optional  tests of the VLC module (the file audio output)
cluster      python3-distributed               optional  python3 -m ostrel.convert on a Dask cluster, and its test
material     sox                               required  tools/make-material.sh: every conversion, the generated clips
material     espeak-ng                         optional  material: synthetic speech in German, French and Spanish
material     festival                          optional  material: diphone and HMM speech (English voices)
material     festvox-kallpc16k                 optional  material: a male American English voice for festival
material     festvox-us-slt-hts                optional  material: a female American English voice for festival
material     alsa-utils                        optional  material: recorded speech (the channel test voice samples)
material     abcmidi                           optional  material: the tunes written in the script, turned into MIDI
material     fluidsynth                        optional  material: MIDI rendered to sampled instruments
material     fluid-soundfont-gm                optional  material: the General MIDI instruments and drums fluidsynth plays
material     frozen-bubble-data                optional  material: band recordings and applause (Ogg Vorbis)
material     sonic-pi-samples                  optional  material: the check set (recorded loops and instruments)
material     wesnoth-1.16-music                optional  material: orchestral recordings (Ogg Vorbis)
material     hydrogen-drumkits                 optional  material: a recorded acoustic drum kit and hand percussion
material     fillets-ng-data                   optional  material: recorded shouts and keyboard typing (Ogg Vorbis)
material     fillets-ng-data-cs                optional  material: recorded Czech dialogue, a male and a female voice
material     sound-theme-freedesktop           optional  material: short recorded chimes and a shutter
compare      lame                              optional  tools/compare-modes.sh: MP3 at the peer rates (and lame --decode)
compare      twolame                           optional  compare-modes: MPEG Layer II at the peer rates
compare      mpg123                            optional  compare-modes: decodes the Layer II streams
compare      vorbis-tools                      optional  compare-modes: Ogg Vorbis (oggenc, oggdec)
compare      opus-tools                        optional  compare-modes: Opus (opusenc, opusdec)
web          emscripten                        required  the WebAssembly build (emcc)
web          nodejs                            required  the WebAssembly package and its tests (node)
web          npm                               optional  installing the package and the browser driver in the tests
web          chromium                          optional  the player page tested in a headless browser
windows      g++-mingw-w64-x86-64-posix        required  the Windows build (mingw-w64, with the POSIX thread model std::thread needs)
windows      wine64                            optional  the tests of the Windows build (64-bit wine)
windows      wine                              optional  the tests of the Windows build (the wine command)
fuzz         clang                             required  the fuzz targets (libFuzzer)
fuzz         libclang-rt-dev                   required  the sanitizer and fuzzer runtimes
'

[ $# -gt 0 ] || set -- build

missing=''
required=''
for group in "$@"; do
  found=no
  while read -r g package need _; do
    [ "$g" = "$group" ] || continue
    found=yes
    dpkg -s "$package" >/dev/null 2>&1 && continue
    # Node.js from other origins brings its own npm (and conflicts with Debian's).
    [ "$package" = npm ] && command -v npm >/dev/null 2>&1 && continue
    missing="$missing $package"
    [ "$need" = required ] && required="$required $package"
  done <<LIST
$PACKAGES
LIST
  if [ "$found" = no ]; then
    echo "install-deps: no package group '$group'" >&2
    exit 2
  fi
done
# The web group also wants the npm packages of the browser test (tests/web/package.json), which
# drive Debian's chromium and never download a browser of their own.
npm_packages() {
  case " $* " in *" web "*) ;; *) return 0 ;; esac
  here=$(dirname "$0")/../tests/web
  [ -d "$here/node_modules/puppeteer-core" ] && return 0
  if ! command -v npm >/dev/null 2>&1; then
    echo "install-deps: npm is missing; the browser test is skipped"
    return 0
  fi
  echo "install-deps: installing the browser test's npm packages (puppeteer-core)"
  PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix "$here" --no-audit --no-fund --no-save --silent >/dev/null ||
    echo "install-deps: the npm packages could not be installed; the browser test is skipped"
}

if [ -z "$missing" ]; then
  npm_packages "$@"
  exit 0
fi

if ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: missing:$missing (no apt-get here; install them with the system's package manager)"
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing:$missing; to install them run:"
  echo "  sudo sh -c 'apt-get update && apt-get install -y$missing'"
  exit 0
fi

echo "install-deps: installing$missing"
apt-get update >/dev/null || echo "install-deps: apt-get update failed; trying the package lists there are"
status=0
for package in $missing; do
  # Another installation running at the same time holds the package lock: wait for it.
  if ! DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y "$package" >/dev/null; then
    case " $required " in
      *" $package "*) echo "install-deps: $package could not be installed and is required" >&2; status=1 ;;
      *) echo "install-deps: $package could not be installed; building without it" ;;
    esac
  fi
done
npm_packages "$@"
exit $status
