# Two entry points: `make demo` runs the main job, `make test` builds and runs every test
# under AddressSanitizer and UndefinedBehaviorSanitizer, then (where clang has libFuzzer, which it
# installs) every fuzz target for FUZZ_SMOKE_SECONDS each.
BUILD      ?= build
DEMO_BUILD ?= build-release
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc)
WERROR     ?= $(if $(CI),ON,OFF)

# no "Entering directory" lines from this make or the ones cmake --build runs (MAKEFLAGS reaches them)
MAKEFLAGS += --no-print-directory

.PHONY: all demo test bench bench-python soak fuzz fuzz-build bootstrap clean python blender-addon windows test-windows test-farm

all: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARIN_TESTS=OFF >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

bootstrap:
	@scripts/bootstrap

# Release build of both commands and the plug-in into $(DEMO_BUILD)/ (the folder docs/guide.md uses
# throughout), then the demo into out/demo/ (pictures, cache, scene).
demo: bootstrap
	cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=Release -DTESSARIN_TESTS=OFF >/dev/null
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target vomark tessarin Tessarin
	@scripts/demo $(DEMO_BUILD)

# The tessarin Python package, built by pip from python/ (offline: Debian's setuptools and pybind11)
# and installed into the active virtualenv, else per user into /usr/bin/python3 (scripts/install-python).
python:
	@scripts/bootstrap python
	scripts/install-python

# The Blender add-on as one zip holding the module built for Blender's Python (Debian's Blender runs
# /usr/bin/python3's 3.11): build-addon/tessarin_cache.zip, for Preferences > Add-ons > Install.
blender-addon:
	@scripts/bootstrap python
	rm -rf build-addon && mkdir -p build-addon
	/usr/bin/python3 -m pip wheel --quiet --no-index --no-build-isolation --no-deps -w build-addon ./python
	/usr/bin/python3 integrations/blender/make_addon.py build-addon/tessarin_cache.zip build-addon/tessarin-*.whl

test:
	@scripts/bootstrap test fuzz
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON -DTESSARIN_WERROR=$(WERROR) >/dev/null
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)
	@if fuzz/have-libfuzzer; then \
		$(MAKE) --no-print-directory fuzz-build FUZZ_TARGET= && cd build-fuzz && ctest --output-on-failure -j $(JOBS); \
	else echo "make test: clang has no libFuzzer here, so the fuzz targets did not run"; fi

# Speed goals live here, not in the tests: every case beside its floor, in one run, with a table
# and bench/results.json at the end (a minute or two); then the page's scrubbing in headless Chromium. BENCH_ARGS passes options on (e.g. --benchmark_filter=step).
BENCH_ARGS ?=
bench:
	@scripts/bootstrap bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSARIN_TESTS=OFF -DTESSARIN_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS) --target bench_cache
	build-bench/bin/bench_cache --benchmark_min_time=0.3 --benchmark_out=build-bench/bench.json \
		--benchmark_out_format=json $(BENCH_ARGS)
	bench/report.py build-bench/bench.json bench/results.json
	cmake --build build-bench -j $(JOBS) --target vomark Tessarin
	/usr/bin/python3 bench/view_scrub.py build-bench/bin/vomark build-bench/plugins

# Cache.evaluate beside the modifier's own playback, then a frame change in headless Blender with the
# add-on beside Blender's Mesh Cache modifier, on grids of quads and on vertices alone, at 40,000 and
# 1,000,000 vertices (docs/performance.md, "Python and Blender").
bench-python:
	@scripts/bootstrap bench python blender
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSARIN_TESTS=OFF -DTESSARIN_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS) --target bench_cache tessarin_python
	/usr/bin/python3 bench/python_bench.py build-bench
	/usr/bin/python3 integrations/blender/make_addon.py build-bench/tessarin_cache.zip build-bench/python/tessarin
	BLENDER_USER_SCRIPTS=$(CURDIR)/build-bench/blender/scripts BLENDER_USER_CONFIG=$(CURDIR)/build-bench/blender/config \
		blender -b --factory-startup --python bench/blender_bench.py -- build-bench/tessarin_cache.zip 2>/dev/null | grep '^|'

# 100,000 evaluations of one scene; fails when resident memory grows after the warm-up.
soak:
	@scripts/bootstrap bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSARIN_TESTS=OFF -DTESSARIN_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS) --target bench_soak
	build-bench/bin/bench_soak

# Every fuzz target for FUZZ_SECONDS each, one after another (FUZZ_TARGET=NAME runs one), then a line
# per target; the targets and what they read are listed in docs/robustness.md.
FUZZ_SECONDS       ?= 60
FUZZ_TARGET        ?=
FUZZ_SMOKE_SECONDS ?= 3
fuzz: fuzz-build
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGET)

fuzz-build:
	@scripts/bootstrap fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_TESTS=OFF -DTESSARIN_FUZZ=ON \
		-DTESSARIN_FUZZ_SMOKE_SECONDS=$(FUZZ_SMOKE_SECONDS) >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target $(if $(FUZZ_TARGET),fuzz_$(FUZZ_TARGET),fuzzers)

# The Windows build with Debian's MinGW-w64 into $(WINDOWS_BUILD)/ (docs/windows.md), and its tests
# under wine64, headless, in a Wine prefix of their own inside that folder (made on the first run),
# with one Wine server for the whole run that scripts/wine-session starts and stops.
WINDOWS_BUILD ?= build-windows
windows:
	@scripts/bootstrap windows
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DTESSARIN_WERROR=$(WERROR) >/dev/null
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The cross-platform tests run the Linux build's vomark beside vomark.exe: the one `make test` builds.
# A test that fails runs once more (both runs are shown): Wine has, rarely, failed to start a program
# (exit 1, no message) while another prefix was being made; a real fault fails twice.
test-windows: windows
	@scripts/bootstrap test
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON -DTESSARIN_WERROR=$(WERROR) >/dev/null
	cmake --build $(TEST_BUILD) -j $(JOBS) --target vomark Tessarin
	cmake -S . -B $(WINDOWS_BUILD) -DTESSARIN_LINUX_VOMARK=$(CURDIR)/$(TEST_BUILD)/bin/vomark >/dev/null
	cd $(WINDOWS_BUILD) && WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wine \
		$(CURDIR)/scripts/wine-session ctest --output-on-failure -j $(JOBS) --repeat until-pass:2

# A one-node Slurm cluster from Debian's packages, started and stopped here (scripts/farm/local-slurm):
# a 200-frame recording of a 1,000,000-vertex scene in 4 parts, joined and compared byte for byte with
# the whole recording; a part cancelled with scancel is refused by the join until submitted again
# (docs/farm.md). Release build in $(FARM_BUILD)/.
FARM_BUILD ?= build-farm
test-farm:
	@scripts/bootstrap farm
	cmake -S . -B $(FARM_BUILD) -DCMAKE_BUILD_TYPE=Release -DTESSARIN_TESTS=OFF >/dev/null
	cmake --build $(FARM_BUILD) -j $(JOBS) --target vomark tessarin Tessarin
	tests/farm/test_farm.sh $(FARM_BUILD)

clean:
	rm -rf $(BUILD) $(DEMO_BUILD) $(TEST_BUILD) $(WINDOWS_BUILD) $(FARM_BUILD) build-bench build-addon build-fuzz out
