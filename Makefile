# Pemlo Recorder: `make run` and `make test` set up everything they need.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
NATIVE := build/native
SANITIZE := build/sanitize
FUZZ := build/fuzz
FUZZ_SECONDS ?= 5
WINDOWS := build/windows
WINDOWS_GDI := build/windows-gdi
# Where this machine cannot run 32-bit programs (tools/wine-arch.sh runs the 32-bit Wine
# loader once and keeps the answer in build/wine-arch.txt), the program and its test
# programs are also built for x86_64, and every test under Wine runs those under wine64.
# The product stays the 32-bit build/windows. PEMLO_WINE_ARCH=32|64 or PEMLO_WINE_NO32=1
# in the environment try the other way by hand.
WINDOWS64 := build/windows64
WINDOWS64_GDI := build/windows64-gdi
WINE_ARCH := bash tools/wine-arch.sh
# Where the 32-bit loader runs and wine64 too, the x86_64 program is built as well (GDI
# capture, only the program and the dialog driver) and one end-to-end recording runs it
# under wine64, so that neither build can break unseen.
WINE64_ALSO := [ "$$($(WINE_ARCH) | cut -d' ' -f1)" = 32 ] && /usr/lib/wine/wine64 --version >/dev/null 2>&1

.PHONY: all deps native sanitize windows lint format test unit-tests sanitize-tests fuzz run clean dist

all: native windows

deps:
	@bash tools/install-deps.sh all

native: deps
	@probe=$$($(WINE_ARCH)); arch=$${probe%% *}; \
	if [ "$$arch" = 64 ]; then gdi=$(WINDOWS64_GDI) d3d=$(WINDOWS64) rig=build/wine-rig64; \
	else gdi=$(WINDOWS_GDI) d3d=$(WINDOWS) rig=build/wine-rig; fi; \
	also64=""; if $(WINE64_ALSO); then also64=$(CURDIR)/$(WINDOWS64_GDI); fi; \
	cmake --no-warn-unused-cli -S . -B $(NATIVE) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPEMLO_WINDOWS_BIN=$(CURDIR)/$$gdi -DPEMLO_WINDOWS_D3D_BIN=$(CURDIR)/$$d3d \
	    -DPEMLO_PRODUCT_BIN=$(CURDIR)/$(WINDOWS) -DPEMLO_WINE_RIG_ROOT=$(CURDIR)/$$rig \
	    -DPEMLO_WINE_ARCH="$$arch" -DPEMLO_WINE_WHY="$${probe#* }" \
	    -DPEMLO_WINDOWS64_ALSO_BIN="$$also64" >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

sanitize: deps
	@cmake --no-warn-unused-cli -S . -B $(SANITIZE) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DPEMLO_SANITIZE=ON \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS)

windows: deps
	@cmake --no-warn-unused-cli -S . -B $(WINDOWS) $(GEN) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WINDOWS) -j $(JOBS)
	@cmake --no-warn-unused-cli -S . -B $(WINDOWS_GDI) $(GEN) -DCMAKE_BUILD_TYPE=Release -DPEMLO_GDI_CAPTURE=ON \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WINDOWS_GDI) -j $(JOBS)
	@bash tools/check-dlls.sh $(WINDOWS)/app/PemloRecorder.exe
	@if [ "$$($(WINE_ARCH) | cut -d' ' -f1)" = 64 ]; then \
	    cmake --no-warn-unused-cli -S . -B $(WINDOWS64) $(GEN) -DCMAKE_BUILD_TYPE=Release \
	        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null && \
	    cmake --build $(WINDOWS64) -j $(JOBS) && \
	    cmake --no-warn-unused-cli -S . -B $(WINDOWS64_GDI) $(GEN) -DCMAKE_BUILD_TYPE=Release -DPEMLO_GDI_CAPTURE=ON \
	        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null && \
	    cmake --build $(WINDOWS64_GDI) -j $(JOBS); \
	elif $(WINE64_ALSO); then \
	    cmake --no-warn-unused-cli -S . -B $(WINDOWS64_GDI) $(GEN) -DCMAKE_BUILD_TYPE=Release \
	        -DPEMLO_GDI_CAPTURE=ON -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null && \
	    cmake --build $(WINDOWS64_GDI) -j $(JOBS) --target PemloRecorder pemlo_e2e_driver; \
	fi

lint: native
	@bash tools/lint.sh $(NATIVE)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

unit-tests: native windows
	@cd $(NATIVE) && ctest --output-on-failure -j $(JOBS) --timeout 900

# Every native test under AddressSanitizer and UBSan; only the tests that run the
# Windows program under Wine are left out (none of our native code runs there).
sanitize-tests: sanitize
	@cd $(SANITIZE) && ctest --output-on-failure -j $(JOBS) --timeout 900 -LE 'wine'

# The tests that start threads (CTest label `threads`) under ThreadSanitizer: only the
# programs that hold them are built, with clang, in build/tsan.
TSAN := build/tsan
.PHONY: tsan-tests
tsan-tests: deps
	@cmake --no-warn-unused-cli -S . -B $(TSAN) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DPEMLO_TSAN=ON \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(TSAN) -j $(JOBS) --target threads_test_programs
	@cd $(TSAN) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	    ctest --output-on-failure -j $(JOBS) --timeout 900 -L threads

# The libFuzzer targets, built with clang and the sanitizers, each run FUZZ_SECONDS.
fuzz: deps
	@cmake --no-warn-unused-cli -S . -B $(FUZZ) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DPEMLO_SANITIZE=ON -DPEMLO_FUZZ=ON \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS) --target pemlo_fuzz_spool_reader pemlo_fuzz_page_filling \
	    pemlo_fuzz_recovered_recording
	@bash tests/fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

test: native windows lint unit-tests sanitize-tests fuzz
test: tsan-tests

run: native windows
	@bash tools/run.sh

# The release: dist/PemloRecorder-<version>-win32.zip and dist/SHA256SUMS, made from the
# product build alone (tools/dist/make_dist.py; the same commit gives the same bytes).
DIST := dist
dist:
	@bash tools/install-deps.sh dist
	@cmake --no-warn-unused-cli -S . -B $(WINDOWS) $(GEN) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WINDOWS) -j $(JOBS) --target PemloRecorder
	@bash tools/check-dlls.sh $(WINDOWS)/app/PemloRecorder.exe
	@python3 tools/dist/make_dist.py . $(WINDOWS)/app/PemloRecorder.exe $(DIST)

clean:
	rm -rf build
