# Set-up, build, tests and the demo in one place. `make test` and `make demo` work on a fresh
# Debian machine with g++, CMake and GoogleTest: they first install the other Debian packages
# the toolkit needs (cmake/ensure_packages.sh; as root or through sudo -n).
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all packages build test demo clean

all: build

# Silent when every package is installed.
packages:
	@bash cmake/ensure_packages.sh

$(BUILD)/CMakeCache.txt: | packages
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: packages $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE long_search

# The demo needs the programs only, not the tests.
demo: packages $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target programs
	bash demo/demo.sh $(BUILD)/tools demo-output

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-arm64 build-armhf demo-output
