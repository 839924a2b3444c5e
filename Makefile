# Thin wrapper over CMake. `make run` builds and starts the encoder; `make test` builds and runs
# every test; `make sanitize` runs the same tests built with AddressSanitizer and UBSan;
# `make tsan` runs the tests of the threaded sound output under ThreadSanitizer.
BUILD    := build
ASAN     := build-asan
TSAN     := build-tsan
JOBS     ?= 2
CMAKE    ?= cmake

.PHONY: all build run test sanitize tsan bench clean

all: build

build:
	$(CMAKE) -S . -B $(BUILD)
	$(CMAKE) --build $(BUILD) -j $(JOBS)

# Only the encoder is needed to start the dialogue; its standard input stays the user's console.
run:
	$(CMAKE) -S . -B $(BUILD)
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target ostrelenc
	./$(BUILD)/ostrelenc

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize:
	$(CMAKE) -S . -B $(ASAN) -DOSTREL_SANITIZE=ON
	$(CMAKE) --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# Only the sound output runs a second thread, so only its tests are worth the slower build.
TSAN_TESTS := waveout_tests soundcard_tests
tsan:
	$(CMAKE) -S . -B $(TSAN) -DOSTREL_TSAN=ON
	$(CMAKE) --build $(TSAN) -j $(JOBS) --target $(TSAN_TESTS)
	@for t in $(TSAN_TESTS); do echo "== $$t (ThreadSanitizer)"; ./$(TSAN)/tests/$$t --gtest_brief=1 || exit 1; done

bench: build
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target bench_all
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN)
