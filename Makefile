# The commands people type. Each build lives in its own folder under build/.
CMAKE ?= cmake
# A compiler cache, when one is installed and can write its cache, serves the rebuilds of all five
# build folders.
CCACHE ?= $(shell d=$$(mktemp -d 2>/dev/null) && printf 'int x;\n' >$$d/p.c && \
            ccache cc -c $$d/p.c -o $$d/p.o >/dev/null 2>&1 && command -v ccache; rm -rf "$$d")
GEN   := -G Ninja $(if $(CCACHE),-DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))
JOBS  ?= $(shell nproc)
FUZZ_SECONDS ?= 60
SMOKE_SECONDS ?= 15

# Wine runs the Windows test programs; Debian keeps its loader off PATH.
WINE64 ?= $(firstword $(wildcard /usr/lib/wine/wine64) $(shell command -v wine64 2>/dev/null))
WINE_JOBS ?= 2

.PHONY: stale-check vsix all build test test-native test-asan fuzz fuzz-smoke bench bench-table windows test-windows demo demo-build check-demo screenshot fxls-screenshot format clean

all: build

build:
	$(CMAKE) -S . -B build/native $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build/native -j $(JOBS)

test: test-native test-asan fuzz-smoke $(if $(WINE64),test-windows)

test-native: build
	cd build/native && ctest --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B build/asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DEMBERVISE_SANITIZE=ON
	$(CMAKE) --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The differential test of incremental packs against clean ones, over more seeds than the suite runs
# (STALE_SEEDS seeds from STALE_FIRST_SEED, STALE_STEPS edit steps each).
STALE_SEEDS ?= 24
STALE_STEPS ?= 60
STALE_FIRST_SEED ?= 100
stale-check: build
	ZQPACK_STALE_SEEDS=$(STALE_SEEDS) ZQPACK_STALE_STEPS=$(STALE_STEPS) ZQPACK_STALE_FIRST_SEED=$(STALE_FIRST_SEED) \
	    build/native/bin/test_zqpack --gtest_filter='ZqpackDifferential.*'

build-fuzz:
	$(CMAKE) -S . -B build/fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	    -DCMAKE_CXX_COMPILER=clang++ -DEMBERVISE_BUILD_FUZZ=ON -DEMBERVISE_BUILD_TESTS=OFF \
	    -DEMBERVISE_BUILD_TOOLS=OFF
	$(CMAKE) --build build/fuzz -j $(JOBS)

fuzz: build-fuzz
	fuzz/run-all.sh build/fuzz/bin $(FUZZ_SECONDS)

fuzz-smoke: build-fuzz
	fuzz/run-all.sh build/fuzz/bin $(SMOKE_SECONDS)

bench:
	$(CMAKE) -S . -B build/bench $(GEN) -DCMAKE_BUILD_TYPE=Release -DEMBERVISE_BUILD_BENCH=ON \
	    -DEMBERVISE_BUILD_TESTS=OFF
	$(CMAKE) --build build/bench -j $(JOBS)
	bench/run-all.sh build/bench/bin
	python3 bench/bench_fxls.py build/bench/bin

# The benchmarks behind the performance goals, as ratios to their in-run references, written into
# the table of README.md's "Performance" section.
bench-table:
	$(CMAKE) -S . -B build/bench $(GEN) -DCMAKE_BUILD_TYPE=Release -DEMBERVISE_BUILD_BENCH=ON \
	    -DEMBERVISE_BUILD_TESTS=OFF
	$(CMAKE) --build build/bench -j $(JOBS)
	python3 bench/figures.py build/bench/bin README.md

# Cross-builds everything, test programs included, with MinGW-w64 for i686 and x86_64. The Linux
# build's bin folder is where the Windows suite finds the packed bytes to compare with.
WINDOWS_CONFIG = $(GEN) -DCMAKE_BUILD_TYPE=Release -DEMBERVISE_NATIVE_BIN_DIR=$(CURDIR)/build/native/bin

windows:
	$(CMAKE) -S . -B build/win32 $(WINDOWS_CONFIG) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake
	$(CMAKE) --build build/win32 -j $(JOBS)
	$(CMAKE) -S . -B build/win64 $(WINDOWS_CONFIG) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
	$(CMAKE) --build build/win64 -j $(JOBS)

# The x86_64 suite under Wine, then the i686 one: its DLL export checks always, its programs only
# where 32-bit Wine is installed. The Linux build packs the demo for the byte comparison.
test-windows: build windows
	cd build/win64 && ctest --output-on-failure -j $(WINE_JOBS)
	@if grep -q '^EMBERVISE_WINE:FILEPATH=/' build/win32/CMakeCache.txt; then \
	    echo "== i686 suite under 32-bit Wine"; \
	else \
	    echo "== i686 suite: export checks only; no 32-bit Wine runs here (Debian: wine32:i386, and a kernel that runs i386 programs)"; \
	fi
	cd build/win32 && ctest --output-on-failure -j $(WINE_JOBS)

# What the demo needs: the programs, the plug-in and the modules; not the test suite. Built quietly
# (the build's output goes to build/demo.log and is shown only when it fails), then the
# demo project is packed in place (packed files land beside their sources) and verified.
DEMO_TARGETS = zqpack fxdump fxcheck zqa Embervise sparkrig_sample TripwireDLL

demo-build:
	@mkdir -p build
	@echo "== Building $(DEMO_TARGETS) (output: build/demo.log)"
	@{ $(CMAKE) -S . -B build/native $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo && \
	   $(CMAKE) --build build/native -j $(JOBS) --target $(DEMO_TARGETS); } >build/demo.log 2>&1 || \
	 { cat build/demo.log; echo "make demo: the build failed (output above, also in build/demo.log)" >&2; exit 1; }

demo: demo-build
	@echo "== Packing demo/"
	@build/native/bin/zqpack demo
	@echo "== Verifying the packed files"
	@build/native/bin/fxdump --verify $$(find demo -name '*.Fx00p' | sort)
	@echo "== Next: build/native/bin/fxdump --project demo/fx/fire/campfire.Fx00p (more in README.md)"

# Checks the demo project (clean apart from a few deliberate warnings) and the broken examples (which
# show typical mistakes, so fxcheck exits 1 on them: that is expected here).
check-demo: demo-build
	build/native/bin/fxcheck --summary demo
	-build/native/bin/fxcheck --summary examples/broken

# The README's picture of fxdump's page: one demo effect, rendered by headless Chromium from the
# current build into docs/fxdump-page.png (commit it when it changes).
CHROMIUM ?= chromium
screenshot: demo
	build/native/bin/fxdump --html --module build/native/bin/sparkrig_sample.dll --effect HealAura \
	    demo/fx/magic/heal_aura.Fx00p > build/fxdump-page.html
	rm -rf build/chromium-profile
	mkdir -p docs
	$(CHROMIUM) --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
	    --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
	    --user-data-dir=$(CURDIR)/build/chromium-profile --window-size=1280,1380 \
	    --screenshot=$(CURDIR)/docs/fxdump-page.png file://$(CURDIR)/build/fxdump-page.html
	rm -rf build/chromium-profile

# The README's picture of fxls in Neovim under tmux (needs tmux, nvim and Chromium; not part of make test).
fxls-screenshot:
	$(CMAKE) --build build/native -j $(JOBS) --target fxls sparkrig_sample
	sh editors/screenshot/neovim.sh build/native/bin . docs/fxls-neovim.png $(CHROMIUM)

# The VS Code extension as a .vsix, from the locked dependencies (not part of make test).
vsix:
	cd editors/vscode && npm ci --no-audit --no-fund && npx vsce package --out embervise-fx.vsix

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
