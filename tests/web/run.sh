#!/bin/sh
# Runs a test of the WebAssembly package: `build` compiles it with emscripten into BUILD/web
# (beside the native programs it is checked against), `node` and `browser` run the checks.
# Exits 77 (skipped, with the reason) when a tool is missing; `make web` installs them.
# Usage: run.sh build|node|browser SOURCE_DIR BUILD_DIR
set -u
what=$1
src=$2
build=$3
web=$build/web
skip() {
  echo "skipped: $*"
  exit 77
}
command -v emcmake >/dev/null 2>&1 || skip "emscripten (emcmake) is not installed; make web installs it"
command -v node >/dev/null 2>&1 || skip "node is not installed; make web installs it"

case $what in
  build)
    emcmake cmake -S "$src" -B "$web" -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_SHARED=OFF \
      -DOSTREL_GST=OFF -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON >"$build/web-configure.log" 2>&1 || { cat "$build/web-configure.log"; exit 1; }
    # Emscripten's tools want Debian's node modules, where a node not from Debian does not look.
    NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH} exec cmake --build "$web" -j 2 --target ostrel_web ;;
  node)
    command -v npm >/dev/null 2>&1 || skip "npm is not installed; make web installs it"
    [ -f "$web/ostrel-web/ostrel-core.wasm" ] || { echo "the package was not built (test Web.Build)"; exit 1; }
    exec node "$src/tests/web/node-test.mjs" "$web/ostrel-web" "$build" "$build/web-node-test" ;;
  browser)
    [ -x /usr/bin/chromium ] || skip "chromium is not installed; make web installs it"
    [ -f "$web/ostrel-web/ostrel-core.wasm" ] || { echo "the package was not built (test Web.Build)"; exit 1; }
    exec node "$src/tests/web/browser-test.mjs" "$src/web" "$web/ostrel-web" "$build" "$build/web-browser-test" ;;
esac
echo "run.sh: unknown test $what" >&2
exit 2
