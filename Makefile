# Convenience targets around CMake. `make test` builds and runs the whole
# suite; `make demo` shows the driver at work against the simulator.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build test demo sanitize clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	./tools/demo.sh $(BUILD)

sanitize:
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS=-DQORHT_SANITIZE=ON

clean:
	rm -rf $(BUILD) build-sanitize
