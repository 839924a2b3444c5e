# Thin wrapper over CMake. `make run` builds and starts the encoder; `make test` builds and runs
# every test; `make sanitize` runs the same tests built with AddressSanitizer and UBSan.
BUILD    := build
ASAN     := build-asan
JOBS     ?= 2
CMAKE    ?= cmake

.PHONY: all build run test sanitize bench clean

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

bench: build
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target bench_all
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(ASAN)
