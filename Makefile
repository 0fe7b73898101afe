# The two commands of the README (run, test) do their own set-up on a fresh Debian 12 machine.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2

.PHONY: all setup configure build run test screenshots bench clean

all: build

setup:
	@./scripts/setup.sh

configure: setup
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/tovik

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j $(JOBS)

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/app/tovik-screenshots $(BUILD)/screenshots

bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/bench/tovik-bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
