# Two entry points that do everything on a fresh Debian machine:
#   make run    install what is missing, build, run the viewer from the project root
#   make test   the same set-up, then every test
BUILD ?= build
JOBS ?= $(shell nproc)

# Debian packages the build and the tests need; each area adds its own.
DEBS := cmake make ninja-build g++ clang pkg-config libgtest-dev libsdl1.2-dev

# A new build folder gets Ninja, which compiles a program's objects while the
# libraries it links are still being built (Make's generator waits for them);
# a folder keeps the generator it was made with.
new_generator = $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja)

# The steps of `make test`, in order; each area adds its own.
TEST_STEPS := test-unit

# -- Hostile input (sanitizers, fuzzing, static analysis): see the block at the end.
DEBS += clang libclang-rt-14-dev clang-tidy cppcheck
TEST_STEPS += test-sanitize fuzz-and-lint

# -- End to end (tests/e2e, tools/run_headless.sh, tests/consumer) --
# Xvfb and XTest for the window tests, both SDL 1.2 runtimes (classic and the
# SDL-2-based one; CTest runs the suite on each), valgrind for the memcheck
# run, xdotool and ImageMagick for `make run` without a display.
DEBS += xvfb libx11-dev libxtst-dev libsdl1.2debian libsdl1.2-compat valgrind \
        xdotool imagemagick
TEST_STEPS += test-install

# -- Speed (benchmarks, instruction counts, the viewer's costs): see the block at the end.
DEBS += libbenchmark-dev libstb-dev libsdl-image1.2-dev libpixman-1-dev
# The canvas benchmarks time Allegro 4.4's memory-bitmap sprites and SDL_gfx's zoom and rotozoom too.
DEBS += liballegro4-dev libsdl-gfx1.2-dev
TEST_STEPS += bench-smoke

# -- Other architectures: the library and its library-level tests cross-built for
# aarch64 and big-endian s390x, run under qemu-user: see the block at the end.
DEBS += g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user googletest
TEST_STEPS += test-cross
# 32-bit ARM (armhf: its NEON kernels tested on processors with and without
# NEON) and 32-bit little-endian MIPS (mipsel).
DEBS += g++-arm-linux-gnueabihf g++-mipsel-linux-gnu

.PHONY: deps configure build run test $(TEST_STEPS) samples clean

# Installs only what is missing, so a ready machine never calls apt-get.
deps:
	@missing=$$(for p in $(DEBS); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  sudo=$$([ "$$(id -u)" = 0 ] || echo sudo); \
	  echo "installing:" $$missing; \
	  $$sudo apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) $(call new_generator,$(BUILD)) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Opens the window; without a display, runs in Xvfb and saves $(BUILD)/velmora.png.
run: build
	tools/run_headless.sh $(BUILD)

test: $(TEST_STEPS)

test-unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Remakes the pictures in tga/ from tools/make_samples.cpp.
samples: build
	./$(BUILD)/make_samples tga

clean:
	rm -rf build build-*

# -- Hostile input: every test under ASan and UBSan, the fuzz targets, lint.
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 60
FUZZ_TARGETS := tga draw
# Leak reports from libraries we do not own are named and explained in tests/lsan.supp.
SANITIZER_ENV := ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:check_initialization_order=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

.PHONY: test-sanitize fuzz-build fuzz fuzz-smoke fuzz-and-lint fuzz-run lint

test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) $(call new_generator,$(ASAN_BUILD)) -DVELMORA_SANITIZE=ON -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) $(call new_generator,$(FUZZ_BUILD)) -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target tga_fuzz draw_fuzz make_fuzz_corpus
	$(FUZZ_BUILD)/make_fuzz_corpus $(FUZZ_BUILD)/seeds

# A bounded run of each target, for `make test`.
fuzz-smoke: fuzz-build
	@$(MAKE) --no-print-directory fuzz-run FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)

# `make test` runs the minute of fuzzing, bounded by time, beside lint, bounded
# by work: the fuzzers get fewer executions and the whole a minute less.
fuzz-and-lint: deps
	@$(MAKE) --no-print-directory -j 2 fuzz-smoke lint

# A longer local run: make fuzz FUZZ_SECONDS=1200. The corpus grows in $(FUZZ_BUILD)/corpus.
fuzz: fuzz-build
	@$(MAKE) --no-print-directory fuzz-run

# The targets run side by side, one core each; any finding fails the step and
# leaves its input in $(FUZZ_BUILD)/findings/.
fuzz-run:
	@mkdir -p $(FUZZ_BUILD)/findings $(addprefix $(FUZZ_BUILD)/corpus/,$(FUZZ_TARGETS))
	@pids=""; for t in $(FUZZ_TARGETS); do \
	  dict=""; [ -f fuzz/$$t.dict ] && dict="-dict=fuzz/$$t.dict"; \
	  $(FUZZ_BUILD)/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -close_fd_mask=1 -print_final_stats=1 $$dict \
	    -artifact_prefix=$(FUZZ_BUILD)/findings/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/seeds/$$t >$(FUZZ_BUILD)/$$t.log 2>&1 & \
	  pids="$$pids $$!"; done; \
	failed=0; for p in $$pids; do wait $$p || failed=1; done; \
	for t in $(FUZZ_TARGETS); do \
	  echo "$$t: $$(grep -E '^stat::number_of_executed_units' $(FUZZ_BUILD)/$$t.log)"; done; \
	if [ $$failed != 0 ]; then tail -n 60 $(addprefix $(FUZZ_BUILD)/,$(addsuffix .log,$(FUZZ_TARGETS))); \
	  echo "fuzzing found a fault: see $(FUZZ_BUILD)/findings/"; exit 1; fi

# clang-tidy with the main build's compile commands, one a file (see
# cmake/lint_commands.cmake), then cppcheck; any finding fails. clang-tidy's
# analyser takes minutes a core, so the files go one to a process, a process a
# core, largest first. The x86 kernel files get every check but the analyser:
# on their intrinsics it took half of lint's time, while every one of their
# loops runs against the plain loops under ASan and UBSan and in the fuzzers.
LINT_SIMD := $(wildcard src/kernels/kernels_x86*.cpp)
LINT_ANALYSED := $(filter-out $(LINT_SIMD),$(wildcard src/*.cpp src/kernels/*.cpp viewer/*.cpp))
lint: build
	cmake -DIN=$(BUILD)/compile_commands.json -DOUT=$(BUILD)/lint/compile_commands.json \
	  -P cmake/lint_commands.cmake
	{ ls -S $(LINT_ANALYSED); ls -S $(LINT_SIMD) | sed 's/^/--checks=-clang-analyzer-* /'; } | \
	  xargs -P $(JOBS) -L 1 clang-tidy -p $(BUILD)/lint --quiet --warnings-as-errors='*'
	cppcheck -j $(JOBS) --std=c++17 --language=c++ --enable=warning,style,performance,portability \
	  --error-exitcode=1 --inline-suppr --quiet --suppress=missingIncludeSystem -I include -I src src/ viewer/

# -- End to end: the installed package, used by a program outside the project --
test-install: build
	tests/consumer/check_install.sh $(BUILD)

# -- Speed: velmora against the plain loops, stb_image, SDL_image, SDL 1.2, pixman
# and memcpy/memset, built as users build it (-O2, no -march) in its own directory.
#   make bench            the full timing (30 repetitions each, some minutes):
#                         $(BENCH_BUILD)/ratios.md and bench/chart.png
#   make bench-smoke      every benchmark once, briefly: its same-bytes check
#   make bench-callgrind  instruction counts of decoding, exact and repeatable
#   make viewer-costs     start-up time, peak memory and idle CPU of the viewer
#   make bench-aarch64    instructions per pixel on aarch64 (NEON, portable, plain,
#                         stb_image), cross-built and counted under qemu-user;
#                         then the same on 32-bit ARM (armhf), NEON against none
BENCH_BUILD ?= build-bench
BENCH_JSON ?= $(BENCH_BUILD)/bench.json
BENCH_ARGS ?= --benchmark_repetitions=30 --benchmark_min_time=0.05 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true

.PHONY: bench-build bench bench-smoke bench-callgrind viewer-costs bench-aarch64

bench-build: deps
	cmake -S . -B $(BENCH_BUILD) $(call new_generator,$(BENCH_BUILD)) -DVELMORA_BENCH=ON -DVELMORA_TESTS=OFF \
	  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
	cmake --build $(BENCH_BUILD) -j $(JOBS)

# The smoke run checks bytes, not speed: it builds the benchmarks in the main
# build, beside the library the tests have just built.
bench-smoke: build
	cmake -S . -B $(BUILD) -DVELMORA_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target velmora_bench
	./$(BUILD)/bench/velmora_bench --benchmark_min_time=0.000001

# Packages only these local targets need, installed by `deps` when they run.
bench: DEBS += python3 gnuplot-nox
bench-callgrind: DEBS += valgrind
viewer-costs: DEBS += xvfb
bench-aarch64: DEBS += g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user libstb-dev

bench: bench-build
	./$(BENCH_BUILD)/bench/velmora_bench $(BENCH_ARGS) \
	  --benchmark_out=$(BENCH_JSON) --benchmark_out_format=json
	python3 bench/report.py $(BENCH_JSON) | tee $(BENCH_BUILD)/ratios.md
	bench/chart.sh $(BENCH_JSON) bench/chart.png

bench-callgrind: bench-build
	bench/callgrind.sh $(BENCH_BUILD)

viewer-costs: bench-build
	bench/viewer_costs.sh $(BENCH_BUILD)

# -- Other architectures: build-aarch64/, build-s390x/, build-armhf/ and
# build-mipsel/ hold the library, the kernel, decoder and malformed-file tests
# and the sample generator, built with Debian's cross compilers (-O2 as by
# default, without debug information, which only slows the build) and
# GoogleTest from Debian's source; CTest runs them under qemu-user. Each decodes
# every malformed file and fuzz seed to the same digests as the native build,
# whose digests are made first. The 32-bit targets build with 64-bit file
# offsets (their toolchain files).
CROSS_ARCHS := aarch64 s390x armhf mipsel
CROSS_DIGESTS := $(abspath $(BUILD))/tests/decode_digests.txt
# What the tests need: the library's tests and the three generators they run.
CROSS_TARGETS := library_tests malformed_tests kernel_tests make_samples make_fuzz_corpus \
  make_mcu_cases
CROSS_CTEST = ctest --test-dir build-$* --output-on-failure -j $(JOBS)
CROSS_TOOLCHAIN = cmake/toolchains/$*-linux-gnu.cmake
# The kernel levels each target's processor runs (tests/kernel_test.cpp checks).
CROSS_RUN = VELMORA_EXPECT_LEVELS='$(CROSS_LEVELS)' $(CROSS_CTEST)
CROSS_LEVELS = portable
test-cross-aarch64: CROSS_LEVELS = portable neon

# armhf: one build, its tests run on a Cortex-A9 with NEON and on one without,
# where a NEON instruction outside the NEON level traps.
test-cross-armhf: CROSS_TOOLCHAIN = cmake/toolchains/arm-linux-gnueabihf.cmake
test-cross-armhf: CROSS_RUN = QEMU_CPU=cortex-a9 VELMORA_EXPECT_LEVELS='portable neon' $(CROSS_CTEST) && \
  QEMU_CPU=cortex-a9,neon=off VELMORA_EXPECT_LEVELS=portable $(CROSS_CTEST)

.PHONY: cross-digests $(addprefix test-cross-,$(CROSS_ARCHS))

test-cross: $(addprefix test-cross-,$(CROSS_ARCHS))

cross-digests: configure
	cmake --build $(BUILD) -j $(JOBS) --target malformed_tests make_fuzz_corpus
	ctest --test-dir $(BUILD) --output-on-failure -R '^decode_digests[.]are_written'

$(addprefix test-cross-,$(CROSS_ARCHS)): test-cross-%: cross-digests
	cmake -S . -B build-$* $(call new_generator,build-$*) --toolchain $(CROSS_TOOLCHAIN) -DVELMORA_VIEWER=OFF \
	  -DVELMORA_GTEST_SOURCE=/usr/src/googletest -DVELMORA_DIGEST_REFERENCE=$(CROSS_DIGESTS) \
	  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
	cmake --build build-$* -j $(JOBS) --target $(CROSS_TARGETS)
	$(CROSS_RUN)

AARCH64_BENCH_BUILD ?= build-aarch64-bench
ARMHF_BENCH_BUILD ?= build-armhf-bench

bench-aarch64: deps
	bench/aarch64_counts.sh $(AARCH64_BENCH_BUILD)
	ARCH=armhf bench/aarch64_counts.sh $(ARMHF_BENCH_BUILD)

# -- Bare-metal Cortex-M: the library at -Os for the M4 (hard float) and the
# M0+, and tests/mcu's runner (embedded files, the native build's answers,
# guard words, stack painted, every allocator poisoned at link) under
# qemu-system-arm: an MPS2 AN386 board for the M4, a micro:bit (a Cortex-M0,
# faulting on unaligned loads like an M0+) for the M0+ build.
#   make test-cross-cortex-m   both runners, part of test-cross (about 20 s from nothing)
#   make mcu-figures           flash and stack figures of the README
DEBS += gcc-arm-none-eabi picolibc-arm-none-eabi libstdc++-arm-none-eabi-picolibc qemu-system-arm
# The Cortex-M7 (on an MPS2 AN500) runs with `make test-cross-cortex-m7`, outside make test.
CORTEX_M_CPUS := cortex-m4 cortex-m0plus
CORTEX_M_TARGETS := $(addprefix test-cross-,$(CORTEX_M_CPUS) cortex-m7)

.PHONY: test-cross-cortex-m $(CORTEX_M_TARGETS) mcu-figures

test-cross: test-cross-cortex-m
test-cross-cortex-m: $(addprefix test-cross-,$(CORTEX_M_CPUS))

$(CORTEX_M_TARGETS): test-cross-%: deps
	cmake -S . -B build-$* $(call new_generator,build-$*) --toolchain cmake/toolchains/arm-none-eabi.cmake \
	  -DVELMORA_CORTEX_M_CPU=$* -DVELMORA_VIEWER=OFF -DVELMORA_TESTS=OFF
	cmake --build build-$* -j $(JOBS) --target mcu_test
	ctest --test-dir build-$* --output-on-failure

mcu-figures: deps
	bench/mcu_figures.sh build-mcu-figures
