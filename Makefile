# Set-up, build, tests and the demo in one place. `make test` and `make demo` work on a fresh
# machine of this kind (g++, CMake and GoogleTest installed).
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all build test demo clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE long_search

# The demo needs the programs only, not the tests.
demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target programs
	bash demo/demo.sh $(BUILD)/tools demo-output

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-arm64 build-armhf demo-output
