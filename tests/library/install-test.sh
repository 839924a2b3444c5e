#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds the round-trip client against it,
# once through pkg-config (shared, then static) and once through find_package(Ostrel).
# Usage: install-test.sh BUILD_DIR CONSUMER_SOURCE_DIR   (CFLAGS, when set, go to every client build)
set -euo pipefail
build=$1
consumer=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/ostrelenc bin/ostreldec include/ostrel/ostrel.h share/man/man1/ostrelenc.1 share/man/man1/ostreldec.1; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
libdir=$(dirname "$(find "$prefix" -name ostrel.pc)")/..
for f in libostrel.a libostrel.so pkgconfig/ostrel.pc cmake/Ostrel/OstrelConfig.cmake; do
  [ -e "$libdir/$f" ] || { echo "missing lib/$f"; exit 1; }
done
soname=$(objdump -p "$libdir/libostrel.so" | awk '/SONAME/ {print $2}')
[ -n "$soname" ] && [ -e "$libdir/$soname" ] || { echo "no soname link ($soname)"; exit 1; }
# The library decodes to memory only: neither the shared library nor a static link needs ALSA.
if objdump -p "$libdir/libostrel.so" | grep -q 'NEEDED.*libasound'; then echo "libostrel.so needs ALSA"; exit 1; fi
if grep -q asound "$libdir/pkgconfig/ostrel.pc"; then echo "ostrel.pc lists ALSA"; exit 1; fi

export PKG_CONFIG_PATH=$libdir/pkgconfig
cc=${CC:-cc}
# shellcheck disable=SC2046,SC2086
"$cc" ${CFLAGS:-} -std=c99 -Wall -Wextra -Werror -o "$work/shared" "$consumer/roundtrip.c" $(pkg-config --cflags --libs ostrel) -lm
LD_LIBRARY_PATH=$libdir "$work/shared"
# shellcheck disable=SC2046,SC2086
"$cc" ${CFLAGS:-} -std=c99 -o "$work/static" "$consumer/roundtrip.c" $(pkg-config --cflags ostrel) "$libdir/libostrel.a" \
  $(pkg-config --libs-only-other --libs-only-l --static ostrel | sed 's/-lostrel//') -lm
"$work/static" >/dev/null

cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/consumer/roundtrip" >/dev/null
echo "installed tree: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"
