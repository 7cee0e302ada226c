# Front door of the project. `make run` sets everything up and converts the
# bundled samples; `make test` builds and runs every test.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: deps configure build run test test-asan bench fuzz clean

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@bash scripts/run-samples $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan:
	@bash scripts/install-deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j$(JOBS)
	@cd build-asan && ctest --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do $$b; done

fuzz: build
	@bash scripts/run-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz out
