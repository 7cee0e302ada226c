# Front door of the project. `make run` sets everything up and converts the
# bundled samples; `make test` builds and runs every test.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: deps configure build programs run gui test asan-build test-asan release bench fuzz fuzz-long package install-check clean

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# Only the two programs: what `make run` and `make gui` need.
programs: configure
	@cmake --build $(BUILD) -j$(JOBS) --target velmora-cli velmora

run: programs
	@bash scripts/run-samples $(BUILD)

# The desktop program from the build tree.
gui: programs
	@$(BUILD)/src/velmora

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# clang with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's
# coverage instrumentation: the whole suite, and the fuzz targets built.
asan-build:
	@bash scripts/install-deps
	@cmake -S . -B build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON -DVELMORA_FUZZ=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j$(JOBS)

test-asan: asan-build
	@cd build-asan && ctest --output-on-failure -j$(JOBS)

# GCC's optimised build without tests: it must compile warning-free too.
release:
	@bash scripts/install-deps
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
	  $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-release -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do $$b; done

fuzz: asan-build
	@bash scripts/run-fuzz build-asan $(or $(FUZZ_SECONDS),30)

# A long round that keeps what it finds: each target for FUZZ_SECONDS
# (default 300) or FUZZ_RUNS executions, then the inputs that reached new
# code are merged into fuzz/corpus/<target>/ (commit them). FUZZ_TARGETS
# limits the round to some targets.
fuzz-long: asan-build
	@bash scripts/run-fuzz-long build-asan $(or $(FUZZ_SECONDS),300) $(or $(FUZZ_RUNS),0) $(FUZZ_TARGETS)

# A .deb and its velmora-dbgsym .ddeb from a Release build of its own (-O2 -g
# and the distribution's hardening flags, no tests or benchmarks), building only
# what is installed, in parallel; dependencies from dpkg-shlibdeps.
PACKAGE_BUILD ?= build-release
package:
	@bash scripts/install-deps
	@cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -g -DNDEBUG" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j$(JOBS) --target velmora velmora-cli velmora-thumbnailer velmora_completions
	@cd $(PACKAGE_BUILD) && cpack -G DEB >/dev/null
	@bash scripts/fix-dbgsym $(PACKAGE_BUILD)
	@ls $(PACKAGE_BUILD)/velmora*_*.deb $(PACKAGE_BUILD)/velmora*_*.ddeb

# Installs the package's build into a temporary prefix, validates the desktop
# entry, the AppStream metainfo and the MIME package, converts samples/ with
# the installed velmora-cli, runs lintian on the package (an error or a
# warning fails), installs it into a throw-away root, runs it there and
# purges it, which must leave nothing behind.
install-check: package
	@bash scripts/install-check $(PACKAGE_BUILD)

clean:
	rm -rf $(BUILD) build-asan build-release out fuzz/artifacts
