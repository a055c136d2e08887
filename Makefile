# Thin front over CMake: the host build (tools, unit tests, benchmarks, Wine
# test driver) in build/host, the Windows build (installer, saverpack.exe,
# test programs) in build/win32. Every entry point installs what is missing
# first. The order: the host's layout check, then the Windows build (which
# runs it on the installer it links), then the rest of the host build, whose
# saverpack carries that installer inside it.
BUILD   ?= build
HOST    := $(BUILD)/host
WIN32   := $(BUILD)/win32
WEB     := $(BUILD)/web
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps layoutcheck host win32 web test demo package screenshots bench fuzz format clean

all: host

deps:
	@BUILD=$(abspath $(BUILD)) scripts/install-deps

layoutcheck: deps
	@cmake -S . -B $(HOST) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DWIN32_BUILD_DIR=$(abspath $(WIN32)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(HOST) -j $(JOBS) --target layoutcheck

win32: layoutcheck
	@cmake -S . -B $(WIN32) -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=MinSizeRel \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DLAYOUT_CHECK=$(abspath $(HOST))/layoutcheck $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

host: win32
	@cmake --build $(HOST) -j $(JOBS)

# BUILD/web/saverpack.html: the page, one file, built with Debian's
# emscripten, whose linker finds its node modules only through NODE_PATH.
web: win32
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S tools/saverpack/web -B $(WEB) -G Ninja \
	    -DSTUB=$(abspath $(WIN32))/installer.exe >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build $(WEB) -j $(JOBS)

# Where this host cannot run Wine's 32-bit programs, the Wine tests run in
# an emulated PC (scripts/in-vm); WINE_HOST=auto|native|vm picks the path.
test: all web
	@BUILD=$(abspath $(BUILD)) JOBS=$(JOBS) scripts/run-tests

demo: all
	@BUILD=$(abspath $(BUILD)) scripts/demo

# BUILD/packages: the .deb (CPack, checked by lintian) and the Windows zip.
package: all web
	@BUILD=$(abspath $(BUILD)) scripts/package

# The pictures in docs/: the page's in headless Chromium, which needs no
# Wine; then the installer's, which need a virtual display and ImageMagick,
# which only this target installs.
screenshots: all web
	@BUILD=$(abspath $(BUILD)) scripts/screenshots-web
	@BUILD=$(abspath $(BUILD)) scripts/install-deps --screenshots
	@BUILD=$(abspath $(BUILD)) scripts/screenshots

# Host figures are the medians of BENCH_REPETITIONS runs; then the decoder
# as shipped runs under Wine on the same streams.
BENCH_REPETITIONS ?= 3
bench: all
	@cmake --build $(HOST) --target benchmarks
	@cmake --build $(WIN32) --target shipped_bench
	@mkdir -p $(BUILD)/bench-streams
	@$(HOST)/bench/codec_bench --benchmark_repetitions=$(BENCH_REPETITIONS) \
	    --benchmark_display_aggregates_only=true \
	    --streams_out=$(abspath $(BUILD))/bench-streams \
	    --benchmark_out=$(abspath $(BUILD))/bench.json --benchmark_out_format=json
	@scripts/wine-bench $(BUILD)
	@BUILD=$(abspath $(BUILD)) scripts/bench-saverpack
	@BUILD=$(abspath $(BUILD)) scripts/bench-memory

fuzz: deps
	@cmake -S . -B $(BUILD)/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DFUZZ=ON >/dev/null
	@cmake --build $(BUILD)/fuzz --target fuzzers
	@scripts/run-fuzzers $(BUILD)/fuzz

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
