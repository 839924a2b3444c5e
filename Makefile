# Thin wrapper over CMake. `make deps` installs the Debian packages the build wants that are missing
# (tools/install-deps.sh; as root, otherwise it prints the command); `make run` and `make test` do
# that first. `make run` builds and starts the encoder; `make test` builds and runs every test;
# `make sanitize` runs the same tests built with AddressSanitizer and UBSan; `make tsan` runs the
# tests of the threaded sound output and the library's threads (two encoders at once, and the
# encoder's own analysis threads) under ThreadSanitizer; `make demo` encodes and decodes a generated
# signal and prints the sizes and the round trip's SNR; `make fuzz` builds the fuzz targets with
# clang (installing it when missing) and runs each for FUZZ_TIME seconds. `make install` installs
# the programs, libostrel (shared and static), its header, pkg-config and CMake package files, the
# manual pages, the GStreamer plugin and the Python package under PREFIX (default /usr/local; the
# VLC module into VLC's plugin folder), staged under DESTDIR when it is set, and runs ldconfig when
# it installs as root into /usr or /usr/local. `make material` installs the packages the listening
# material comes from and builds it into build/material (and the check set, on which nothing was
# tuned, into build/material-check); `make compare` also installs the other
# codecs and prints the quality table of both encoder modes and those codecs
# (tools/compare-modes.sh). Neither is needed by `make test`.
# `make web` installs emscripten, node and chromium when missing and builds the WebAssembly
# package (the library as an ES module and .wasm with its JavaScript API, and the player page) in
# build-web/ostrel-web, which `npm install` takes as it is. Emscripten's tools want Debian's node
# modules (acorn), which a node not from Debian does not look for by itself: NODE_PATH.
# `make windows` installs mingw-w64 and wine when missing and cross-builds the Windows programs in
# build-windows: ostrelenc.exe, ostreldec.exe, ostrel.dll (its import library and the static
# libostrel.a in build-windows/lib), none needing a DLL beside it. `make windows-test` builds the
# tests too and runs them under wine (the wine prefix lives in build-windows/wine), among them the
# check that the Windows encoder and decoder give the Linux build's bytes, samples and messages;
# `make windows-check` runs only that check and the end-to-end tests of the programs (CI's part).
BUILD    := build
ASAN     := build-asan
TSAN     := build-tsan
FUZZ     := build-fuzz
WEB      := build-web
WIN      := build-windows
FUZZ_TIME ?= 60
JOBS     ?= 2
CMAKE    ?= cmake
PREFIX   ?= /usr/local
DESTDIR  ?=

.PHONY: all deps build run test sanitize tsan bench demo fuzz material compare install clean web windows windows-test windows-check

all: build

deps:
	tools/install-deps.sh build

build:
	$(CMAKE) -S . -B $(BUILD)
	$(CMAKE) --build $(BUILD) -j $(JOBS)

# Only the encoder is needed to start the dialogue; its standard input stays the user's console.
run: deps
	$(CMAKE) -S . -B $(BUILD)
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target ostrelenc
	./$(BUILD)/ostrelenc

# The packages are checked before the configure step, which decides what is built from them.
test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize:
	$(CMAKE) -S . -B $(ASAN) -DOSTREL_SANITIZE=ON
	$(CMAKE) --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# The sound output runs a second thread, and the library must allow instances in parallel
# threads; only their tests are worth the slower build.
TSAN_TESTS := waveout_tests soundcard_tests library_thread_tests
tsan:
	$(CMAKE) -S . -B $(TSAN) -DOSTREL_TSAN=ON
	$(CMAKE) --build $(TSAN) -j $(JOBS) --target $(TSAN_TESTS)
	@for t in $(TSAN_TESTS); do echo "== $$t (ThreadSanitizer)"; ./$(TSAN)/tests/$$t --gtest_brief=1 || exit 1; done

bench: build
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target bench_all
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done
	bench/whole-file.sh $(BUILD)

demo: build
	@mkdir -p demo
	./$(BUILD)/ostrelgen demo/source.wav 10
	printf 'demo/source.wav\ndemo/source.ost\n5\n' | ./$(BUILD)/ostrelenc > demo/encoder.log
	./$(BUILD)/ostreldec -f -q demo/source.ost -o demo/decoded.wav
	@echo
	@wc -c demo/source.wav demo/source.ost demo/decoded.wav | sed '$$d' | awk '{printf "%-20s %9d bytes\n", $$2, $$1}'
	@./$(BUILD)/ostrelcmp demo/source.wav demo/decoded.wav

web:
	tools/install-deps.sh web
	emcmake $(CMAKE) -S . -B $(WEB) -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_SHARED=OFF -DOSTREL_GST=OFF \
	  -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON
	NODE_PATH=/usr/share/nodejs$${NODE_PATH:+:$$NODE_PATH} $(CMAKE) --build $(WEB) -j $(JOBS) --target ostrel_web
	@ls -l $(WEB)/ostrel-web

WINE_ENV := WINEPREFIX=$(abspath $(WIN))/wine WINEDEBUG=-all
windows:
	tools/install-deps.sh windows
	$(CMAKE) -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DOSTREL_HOST_BUILD=$(abspath $(BUILD))
	$(CMAKE) --build $(WIN) -j $(JOBS) --target ostrelenc ostreldec ostrel ostrel_folded
	@ls -l $(WIN)/ostrelenc.exe $(WIN)/ostreldec.exe $(WIN)/ostrel.dll $(WIN)/lib/libostrel.dll.a $(WIN)/lib/install/libostrel.a

# The wine prefix is made once (wineboot takes a while, and its wineserver is waited for); the
# wineserver is stopped at the end, so that no wine process outlives the run. WINDOWS_TESTS: a
# ctest -R pattern, and WINDOWS_TARGETS the test programs it needs (`make windows-check`: the
# subset CI runs).
WINDOWS_TESTS   ?= .
WINDOWS_TARGETS ?= all
windows-test: windows
	@command -v wine >/dev/null || { echo "windows-test: wine is missing (tools/install-deps.sh windows)"; exit 1; }
	$(CMAKE) --build $(WIN) -j $(JOBS) --target $(WINDOWS_TARGETS)
	$(CMAKE) -S . -B $(BUILD)
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target ostrelenc ostreldec ostrelgen
	@[ -f $(WIN)/wine/system.reg ] || { echo "wineboot: making the wine prefix $(WIN)/wine"; $(WINE_ENV) wineboot -i >/dev/null 2>&1; }
	$(WINE_ENV) wineserver -w
	cd $(WIN) && $(WINE_ENV) ctest --output-on-failure -j $(JOBS) -R '$(WINDOWS_TESTS)'; \
	  status=$$?; $(WINE_ENV) wineserver -k 2>/dev/null; exit $$status

# The Windows programs against the Linux ones (bytes at four rates, samples, pipes, messages for
# bad input), the golden streams and decoder samples, and the command-line and decoder tests run
# under wine; the whole of make windows-test takes about twice as long.
windows-check:
	@$(MAKE) --no-print-directory windows-test WINDOWS_TARGETS="encoder_tests decoder_tests" \
	  WINDOWS_TESTS='^(WindowsPrograms|EncoderGolden|RoundTripGolden|EncoderCommandLine|Encoder|EncoderProgram|DecoderFiles)\.'

fuzz: build
	tools/install-deps.sh fuzz
	$(CMAKE) -S . -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++ -DOSTREL_FUZZ=ON -DOSTREL_TESTS=OFF
	$(CMAKE) --build $(FUZZ) -j $(JOBS) --target fuzz_decoder fuzz_encoder fuzz_waveio
	fuzz/make-seeds.sh $(BUILD) $(FUZZ)/corpus
	./$(FUZZ)/fuzz/fuzz_decoder -max_total_time=$(FUZZ_TIME) -max_len=20000 -artifact_prefix=$(FUZZ)/ $(FUZZ)/corpus/decoder
	@mkdir -p $(FUZZ)/corpus/encoder
	./$(FUZZ)/fuzz/fuzz_encoder -max_total_time=$(FUZZ_TIME) -max_len=400000 -artifact_prefix=$(FUZZ)/ $(FUZZ)/corpus/encoder
	./$(FUZZ)/fuzz/fuzz_waveio -max_total_time=$(FUZZ_TIME) -artifact_prefix=$(FUZZ)/ $(FUZZ)/corpus/waveio

material:
	tools/install-deps.sh material
	tools/make-material.sh $(BUILD)/material
	tools/make-material.sh --check $(BUILD)/material-check
	tools/make-material.sh --bass $(BUILD)/material-bass

compare: material
	tools/install-deps.sh compare
	$(CMAKE) -S . -B $(BUILD)
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target ostrelenc ostreldec ostrelcmp
	tools/compare-modes.sh $(BUILD) $(BUILD)/material

# Configured for PREFIX, so that the install folders follow it (on Debian a /usr prefix puts the
# libraries and the GStreamer plugin under lib/<multiarch>, where the system looks for them).
# Installed as root into a system prefix (not staged), the loader's cache is brought up to date,
# so that programs find the new libostrel.so at once; elsewhere a note says what to do.
install:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX="$(PREFIX)"
	$(CMAKE) --build $(BUILD) -j $(JOBS)
	DESTDIR="$(DESTDIR)" $(CMAKE) --install $(BUILD)
	@if [ -z "$(DESTDIR)" ] && [ "$$(id -u)" = 0 ] && { [ "$(PREFIX)" = /usr ] || [ "$(PREFIX)" = /usr/local ]; }; then \
	  echo "ldconfig"; ldconfig; \
	else \
	  echo "note: libostrel.so is in $(DESTDIR)$(PREFIX)/lib...; run ldconfig as root where the loader searches it, or link with -Wl,-rpath (README: The library)"; \
	fi

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ) $(WEB) $(WIN) demo
