# Two entry points that do everything on a fresh Debian machine:
#   make run    install what is missing, build, run the viewer from the project root
#   make test   the same set-up, then every test
BUILD ?= build
JOBS ?= $(shell nproc)

# Debian packages the build and the tests need; each area adds its own.
DEBS := cmake make g++ clang pkg-config libgtest-dev libsdl1.2-dev

# The steps of `make test`, in order; each area adds its own.
TEST_STEPS := test-unit

# -- End to end (tests/e2e, tools/run_headless.sh, tests/consumer) --
# Xvfb and XTest for the window tests, both SDL 1.2 runtimes (classic and the
# SDL-2-based one; CTest runs the suite on each), valgrind for the memcheck
# run, xdotool and ImageMagick for `make run` without a display.
DEBS += xvfb libx11-dev libxtst-dev libsdl1.2debian libsdl1.2-compat valgrind \
        xdotool imagemagick
TEST_STEPS += test-install

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

# -- End to end: the installed package, used by a program outside the project --
test-install: build
	tests/consumer/check_install.sh $(BUILD)
