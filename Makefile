# The two commands a newcomer needs:
#   make demo   set up the machine, build, and run a launcher on the stand-in JVM
#   make test   set up the machine, build, and run every test under Wine
#
# make build stages the deliverables (32-bit Windows) into out/bin/, the product's bin directory.
# make fuzz runs every fuzz target for FUZZ_SECONDS (see README.md, Development).

BUILD      ?= build
OUT        ?= out
JOBS       ?= $(shell nproc)
TEST_ARCH  := $(shell tools/test-arch.sh)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

DELIVER_DIR := $(BUILD)/i686
TEST_DIR    := $(BUILD)/test-$(TEST_ARCH)
BENCH_DIR   := $(BUILD)/bench-$(TEST_ARCH)
NATIVE_DIR  := $(BUILD)/native
FUZZ_DIR    := $(BUILD)/fuzz
OUT_ABS     := $(abspath $(OUT))

# make fuzz: seconds per target, where findings are kept, and which targets (default: all).
FUZZ_SECONDS  ?= 600
FUZZ_FINDINGS ?= fuzz-findings
FUZZ_TARGETS  ?=

.PHONY: all setup build test native-test fuzz-build fuzz-smoke fuzz demo bench clean

all: build

setup:
	@tools/setup-machine.sh

$(DELIVER_DIR)/CMakeCache.txt:
	cmake -S . -B $(DELIVER_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DKVO_BUILD_TESTS=OFF

build: $(DELIVER_DIR)/CMakeCache.txt
	cmake --build $(DELIVER_DIR) -j $(JOBS)
	cmake --install $(DELIVER_DIR) --prefix $(OUT)

$(TEST_DIR)/CMakeCache.txt:
	cmake -S . -B $(TEST_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$(TEST_ARCH)-w64-mingw32.cmake -DKVO_BUILD_TESTS=ON \
	  -DKVO_DELIVERABLES_DIR=$(OUT_ABS)/bin

$(NATIVE_DIR)/CMakeCache.txt:
	cmake -S . -B $(NATIVE_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DKVO_BUILD_TESTS=ON \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"

# Platform-free code natively, under AddressSanitizer and UBSan.
native-test: $(NATIVE_DIR)/CMakeCache.txt
	cmake --build $(NATIVE_DIR) -j $(JOBS)
	cd $(NATIVE_DIR) && ctest --output-on-failure -j $(JOBS)

# The fuzz targets: natively with clang, under libFuzzer, AddressSanitizer and UBSan.
$(FUZZ_DIR)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVO_BUILD_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

fuzz-build: $(FUZZ_DIR)/CMakeCache.txt
	cmake --build $(FUZZ_DIR) -j $(JOBS)

# Each target for a fixed, small number of runs on its seed corpus; a finding fails the test.
fuzz-smoke: fuzz-build
	fuzz/run.sh smoke $(FUZZ_DIR)

# Each target for FUZZ_SECONDS; new corpus entries and failing inputs go to $(FUZZ_FINDINGS)/<target>/.
fuzz: setup fuzz-build
	fuzz/run.sh fuzz $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_FINDINGS) $(FUZZ_TARGETS)

test: setup build native-test fuzz-smoke $(TEST_DIR)/CMakeCache.txt
	@echo "== tests run the $(TEST_ARCH) build under Wine"
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

demo: setup build
	@tools/demo.sh

$(BENCH_DIR)/CMakeCache.txt:
	cmake -S . -B $(BENCH_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$(TEST_ARCH)-w64-mingw32.cmake -DKVO_BUILD_TESTS=ON \
	  -DKVO_BUILD_BENCH=ON -DKVO_DELIVERABLES_DIR=$(OUT_ABS)/bin

# Benchmarks (not tests): ratios against baselines measured in the same run.
bench: setup build $(BENCH_DIR)/CMakeCache.txt
	cmake --build $(BENCH_DIR) -j $(JOBS) --target bench_textconv bench_launcher
	$(BENCH_DIR)/wine.sh start
	cmake --build $(BENCH_DIR) --target bench_textconv_run bench_launcher_run; \
	  status=$$?; $(BENCH_DIR)/wine.sh stop; exit $$status

clean:
	rm -rf $(BUILD) $(OUT)
