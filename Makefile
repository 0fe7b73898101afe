# The two commands of the README (run, test) do their own set-up on a fresh Debian 12 machine.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2

.PHONY: all setup configure build run test install package lintian screenshots bench clean fuzz sanitize translations style

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

# The programs, menu entry, icons, metainfo, manual pages and completion under PREFIX (DESTDIR is
# honoured); `make package` makes the Debian package of the same files, build/tovik_*.deb.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	@TOVIK_SETUP_PACKAGE=1 ./scripts/setup.sh
	cd $(BUILD) && cpack -G DEB

# The package checked by Debian's lintian; any error fails.
lintian: package
	lintian --fail-on error --info $(BUILD)/tovik_*.deb

screenshots: build
	QT_QPA_PLATFORM=offscreen LANGUAGE=ja LC_ALL=C $(BUILD)/app/tovik-screenshots $(BUILD)/screenshots
	QT_QPA_PLATFORM=offscreen LANGUAGE=en LC_ALL= LANG=en_US.UTF-8 $(BUILD)/app/tovik-screenshots $(BUILD)/screenshots/en

# The table of tovik-bench, then Wine's regedit on the same content (skipped without Wine) with
# its ratios to Tovik's medians of that run; fails when either failed. A usage error stops it.
bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/bench/tovik-bench $(BENCH_ARGS); status=$$?; \
	test $$status = 2 || ./bench/peers.sh $(BUILD) $(BENCH_ARGS) || status=1; exit $$status

# The fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer), each run for
# FUZZ_SECONDS on its seed corpus; FUZZ_RUNS=N runs N executions each instead.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz:
	@TOVIK_SETUP_FUZZ=1 ./scripts/setup.sh
	@test -f $(FUZZ_BUILD)/build.ninja || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIK_FUZZ=ON -DTOVIK_BUILD_TESTS=OFF -DTOVIK_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) --target fuzz_targets -j $(JOBS)
	./fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_RUNS)

# The whole test suite built and run with AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_BUILD ?= build-asan
SANITIZE_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
sanitize: setup
	@test -f $(SANITIZE_BUILD)/build.ninja || cmake -S . -B $(SANITIZE_BUILD) -G Ninja \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIK_BUILD_BENCH=OFF -DTOVIK_HARDENING=OFF \
		"-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen TOVIK_SANITIZED=1 \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure --timeout 900 -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Adds the interface's new texts to the English translation (resources/translations/tovik_en.ts);
# texts no longer in the sources are dropped. Translate the new entries, then build.
translations: setup
	/usr/lib/qt6/bin/lupdate -no-obsolete -locations none app ui view editors/gui backup/gui \
		-ts resources/translations/tovik_en.ts

# The layout (.clang-format) of every C++ file and the naming rule (.clang-tidy) of the sources:
# of all of them, or of STYLE_FILES (CI gives the sources its last commit changed).
STYLE_FILES ?=
style: build
	@TOVIK_SETUP_STYLE=1 ./scripts/setup.sh
	cmake -S . -B $(BUILD) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	./scripts/check_style.sh $(BUILD) $(STYLE_FILES)
