# The two commands a newcomer needs:
#   make run    set up, build and start Kelvara
#   make test   set up, build and run every test
# Both install what is missing first (scripts/setup.sh, Debian packages).

JOBS     ?= $(shell nproc)
BUILD    ?= build
ASAN     ?= build-asan
TSAN     ?= build-tsan
FUZZ     ?= build-fuzz
FUZZ_SECONDS ?= 20
CMAKE_GEN = -G Ninja

.PHONY: setup build run test test-release test-asan test-tsan fuzz bench clean

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/kelvara

test: test-release test-asan test-tsan fuzz

test-release: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# GUI-free cores and libraries under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: setup
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKELVARA_GUI=OFF \
	  -DKELVARA_SANITIZE=address -DKELVARA_BENCH=OFF
	cmake --build $(ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS) -L unit

# Tests labelled "tsan" (threaded libraries) under ThreadSanitizer.
test-tsan: setup
	cmake -S . -B $(TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKELVARA_GUI=OFF \
	  -DKELVARA_SANITIZE=thread -DKELVARA_BENCH=OFF
	cmake --build $(TSAN) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN) --output-on-failure -j $(JOBS) -L tsan --no-tests=ignore

# Every libFuzzer target for FUZZ_SECONDS each, starting from its seed corpus.
fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKELVARA_GUI=OFF -DKELVARA_FUZZ=ON -DKELVARA_BENCH=OFF
	cmake --build $(FUZZ) -j $(JOBS)
	bash scripts/run-fuzzers.sh $(FUZZ) $(FUZZ_SECONDS)

bench: build
	bash scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ)
