# One-command entry points. Each installs what is missing first, so a fresh Debian 12 machine
# needs nothing else.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: deps build test demo clean

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD)
