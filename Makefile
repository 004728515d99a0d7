# Two entry points: `make demo` runs the main job, `make test` builds and runs every test
# under AddressSanitizer and UndefinedBehaviorSanitizer.
BUILD      ?= build
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc)
WERROR     ?= $(if $(CI),ON,OFF)

.PHONY: all demo test bootstrap clean

all: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARIN_TESTS=OFF >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

bootstrap:
	@scripts/bootstrap

demo: all
	@scripts/demo $(BUILD)

test: bootstrap
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON -DTESSARIN_WERROR=$(WERROR) >/dev/null
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
