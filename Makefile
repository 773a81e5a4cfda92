# The two commands a newcomer needs:
#   make demo   set up the machine, build, and run the deliverables: launchers on the stand-in JVM,
#               nqfsfunc, and the demo package installed and removed by the Windows Installer
#   make test   set up the machine, build, and run every test (natively and under Wine)
#
# make build stages the deliverables: the 32-bit ones into out/bin/ (and out/kvo-demo.msi), the
# 64-bit ones into out/bin64/ (and out/kvo-demo-x64.msi).
# make release is make build with the fourteen images and both packages signed (SIGN_CERT, SIGN_KEY).
# make fuzz runs every fuzz target for FUZZ_SECONDS (see README.md, Development).

BUILD      ?= build
OUT        ?= out
JOBS       ?= $(shell nproc)
# The Windows builds whose tests, demo and benchmarks run under Wine here: i686 and x86_64 where the
# machine runs 32-bit x86 code, else x86_64 alone (tools/test-arch.sh; KVO_TEST_ARCH names one).
RUN_ARCHES := $(shell tools/test-arch.sh --all)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

DELIVER_ARCHES := i686 x86_64
BIN_DIR_i686   := bin
BIN_DIR_x86_64 := bin64
NATIVE_DIR     := $(BUILD)/native
BENCH_NATIVE_DIR := $(BUILD)/bench-native
FUZZ_DIR       := $(BUILD)/fuzz
OUT_ABS        := $(abspath $(OUT))
STAGED_DIRS    := -DKVO_DELIVERABLES_DIR=$(OUT_ABS)/bin -DKVO_DELIVERABLES64_DIR=$(OUT_ABS)/bin64

# Signing (make release, or make build with both given): the code-signing certificate with its chain
# and its private key (PEM or DER files), and an optional RFC 3161 time-stamp server.
SIGN_CERT          ?=
SIGN_KEY           ?=
SIGN_TIMESTAMP_URL ?=
SIGNING := "-DKVO_SIGN_CERT=$(if $(SIGN_CERT),$(abspath $(SIGN_CERT)))" \
           "-DKVO_SIGN_KEY=$(if $(SIGN_KEY),$(abspath $(SIGN_KEY)))" \
           "-DKVO_SIGN_TIMESTAMP_URL=$(SIGN_TIMESTAMP_URL)"

# make fuzz: seconds per target, where findings are kept, and which targets (default: all).
FUZZ_SECONDS  ?= 600
FUZZ_FINDINGS ?= fuzz-findings
FUZZ_TARGETS  ?=

.PHONY: all setup build release test native-test fuzz-build fuzz-smoke fuzz demo bench bench-native clean \
        $(addprefix build-,$(DELIVER_ARCHES)) $(addprefix test-,$(DELIVER_ARCHES)) \
        $(addprefix bench-,$(DELIVER_ARCHES))

all: build

setup:
	@tools/setup-machine.sh

# $(call cross_configure,ARCH,TREE): configures build tree TREE for Windows on ARCH (release build);
# the caller adds its own options.
cross_configure = cmake -S . -B $(BUILD)/$(2) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$(1)-w64-mingw32.cmake

# The deliverables of one architecture (release build, no tests), staged below $(OUT); signed when
# this make names a certificate and key (the tree always takes this make's signing settings).
define deliverables
$(BUILD)/$(1)/CMakeCache.txt:
	$(call cross_configure,$(1),$(1)) -DKVO_BUILD_TESTS=OFF -DKVO_INSTALL_BIN_DIR=$(BIN_DIR_$(1))

build-$(1): $(BUILD)/$(1)/CMakeCache.txt
	@cmake -S . -B $(BUILD)/$(1) $(SIGNING) >/dev/null
	cmake --build $(BUILD)/$(1) -j $(JOBS)
	cmake --install $(BUILD)/$(1) --prefix $(OUT)
endef
$(foreach arch,$(DELIVER_ARCHES),$(eval $(call deliverables,$(arch))))

build: $(addprefix build-,$(DELIVER_ARCHES))
	@[ -n "$(SIGN_CERT)$(SIGN_KEY)" ] || \
	  echo "== build: nothing signed (make release SIGN_CERT=<certificate> SIGN_KEY=<key> signs)"

release:
	@if [ -z "$(SIGN_CERT)" ] || [ -z "$(SIGN_KEY)" ]; then \
	  echo "make release: name the certificate and its key: SIGN_CERT=<file> SIGN_KEY=<file>" \
	       "[SIGN_TIMESTAMP_URL=<url>]"; exit 1; fi
	@$(MAKE) --no-print-directory build

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

# The test suite of one architecture's build under Wine; each suite also checks the staged images of
# both architectures (exports, ordinals, imports, package actions).
define test_suite
$(BUILD)/test-$(1)/CMakeCache.txt:
	$(call cross_configure,$(1),test-$(1)) -DKVO_BUILD_TESTS=ON $(STAGED_DIRS)

test-$(1): $(BUILD)/test-$(1)/CMakeCache.txt
	@echo "== the $(1) build's tests under Wine"
	cmake --build $(BUILD)/test-$(1) -j $(JOBS)
	cd $(BUILD)/test-$(1) && ctest --output-on-failure -j $(JOBS)
endef
$(foreach arch,$(DELIVER_ARCHES),$(eval $(call test_suite,$(arch))))

test: setup build native-test fuzz-smoke $(addprefix test-,$(RUN_ARCHES))
	@echo "== tests passed: the native suite, the fuzz smoke runs and the Wine suites of the $(RUN_ARCHES) build(s)"

demo: setup build
	@tools/demo.sh $(RUN_ARCHES)

# Benchmarks (not tests): ratios against baselines measured in the same run, per architecture.
define bench_suite
$(BUILD)/bench-$(1)/CMakeCache.txt:
	$(call cross_configure,$(1),bench-$(1)) -DKVO_BUILD_TESTS=ON -DKVO_BUILD_BENCH=ON $(STAGED_DIRS)

bench-$(1): $(BUILD)/bench-$(1)/CMakeCache.txt
	@echo "== benchmarks of the $(1) build"
	cmake --build $(BUILD)/bench-$(1) -j $(JOBS) --target bench_textconv bench_launcher
	$(BUILD)/bench-$(1)/wine.sh start
	cmake --build $(BUILD)/bench-$(1) --target bench_textconv_run bench_launcher_run; \
	  status=$$$$?; $(BUILD)/bench-$(1)/wine.sh stop; exit $$$$status
endef
$(foreach arch,$(DELIVER_ARCHES),$(eval $(call bench_suite,$(arch))))

# The text-conversion rules natively (release build) against ICU and iconv.
$(BENCH_NATIVE_DIR)/CMakeCache.txt:
	cmake -S . -B $(BENCH_NATIVE_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DKVO_BUILD_BENCH=ON

bench-native: $(BENCH_NATIVE_DIR)/CMakeCache.txt
	@echo "== native benchmark of the text-conversion rules"
	cmake --build $(BENCH_NATIVE_DIR) -j $(JOBS) --target bench_textconv_native_run

bench: setup build bench-native $(addprefix bench-,$(RUN_ARCHES))

clean:
	rm -rf $(BUILD) $(OUT)
