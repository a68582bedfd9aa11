# Two entry points that do everything on a fresh Debian machine:
#   make run    install what is missing, build, run the viewer from the project root
#   make test   the same set-up, then every test
BUILD ?= build
JOBS ?= $(shell nproc)

# Debian packages the build and the tests need; each area adds its own.
DEBS := cmake make g++ clang pkg-config libgtest-dev libsdl1.2-dev

# The steps of `make test`, in order; each area adds its own.
TEST_STEPS := test-unit

# -- Speed (benchmarks, instruction counts, the viewer's costs): see the block at the end.
DEBS += libbenchmark-dev libstb-dev libsdl-image1.2-dev
TEST_STEPS += bench-smoke

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
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/velmora

test: $(TEST_STEPS)

test-unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Remakes the pictures in tga/ from tools/make_samples.cpp.
samples: build
	./$(BUILD)/make_samples tga

clean:
	rm -rf build build-*

# -- Speed: velmora against the plain loops, stb_image, SDL_image, SDL 1.2 and
# memcpy/memset, built as users build it (-O2, no -march) in its own directory.
#   make bench            the full timing (30 repetitions each, some minutes):
#                         $(BENCH_BUILD)/ratios.md and bench/chart.png
#   make bench-smoke      every benchmark once, briefly: its same-bytes check
#   make bench-callgrind  instruction counts of decoding, exact and repeatable
#   make viewer-costs     start-up time, peak memory and idle CPU of the viewer
BENCH_BUILD ?= build-bench
BENCH_JSON ?= $(BENCH_BUILD)/bench.json
BENCH_ARGS ?= --benchmark_repetitions=30 --benchmark_min_time=0.05 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true

.PHONY: bench-build bench bench-smoke bench-callgrind viewer-costs

bench-build: deps
	cmake -S . -B $(BENCH_BUILD) -DVELMORA_BENCH=ON -DVELMORA_TESTS=OFF \
	  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
	cmake --build $(BENCH_BUILD) -j $(JOBS)

bench-smoke: bench-build
	./$(BENCH_BUILD)/bench/velmora_bench --benchmark_min_time=0.000001

# Packages only these local targets need, installed by `deps` when they run.
bench: DEBS += python3 gnuplot-nox
bench-callgrind: DEBS += valgrind
viewer-costs: DEBS += xvfb xauth

bench: bench-build
	./$(BENCH_BUILD)/bench/velmora_bench $(BENCH_ARGS) \
	  --benchmark_out=$(BENCH_JSON) --benchmark_out_format=json
	python3 bench/report.py $(BENCH_JSON) | tee $(BENCH_BUILD)/ratios.md
	bench/chart.sh $(BENCH_JSON) bench/chart.png

bench-callgrind: bench-build
	bench/callgrind.sh $(BENCH_BUILD)

viewer-costs: bench-build
	bench/viewer_costs.sh $(BENCH_BUILD)
