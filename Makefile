# make demo     build the hosted program (optimized, build/optimized/tools/uninstall-sim) and
#               rehearse an uninstall on the default simulated machine
# make test     hosted build and all its tests; then, where MinGW-w64 and Wine are installed,
#               both Windows builds and their checks and end-to-end tests
# make windows  build/win32/QuendalUninstall.exe (32-bit) and build/win64/QuendalUninstall.exe
#               (64-bit), and the release: both side by side in build/release/ as
#               QuendalUninstall.exe and QuendalUninstall64.exe
# make fuzz     every libFuzzer target of fuzz/ for FUZZ_SECONDS (default 60) each
# make bench    whole runs of both families on machines of 1,000 to 100,000 devices and of a
#               1,000,000-key registry, and the loading and export of such machines (Google Benchmark);
#               then uninstall-sim on snapshots of 90,000 and 900,000 registry keys beside iconv
# RELIABILITY_SEEDS=5000 make test-hosted
#               the property test on 5,000 machines of each family instead of 250
#               (RELIABILITY_FIRST_SEED picks the first seed)

HOST := build/host
JOBS ?= 2

WIN32 := build/win32
WIN64 := build/win64
RELEASE := build/release
MINGW32 := i686-w64-mingw32-g++
MINGW64 := x86_64-w64-mingw32-g++
HAVE_MINGW := $(shell command -v $(MINGW32) >/dev/null 2>&1 && command -v $(MINGW64) >/dev/null 2>&1 && echo yes)

.PHONY: all deps hosted optimized demo test test-hosted test-windows windows clean

all: hosted

# On a fresh Debian machine the first `make demo` or `make test` installs the packages.
HAVE_TOOLS := $(shell command -v cmake >/dev/null 2>&1 && command -v g++ >/dev/null 2>&1 && \
  test -e /usr/include/gtest/gtest.h && echo yes)
deps:
ifneq ($(HAVE_TOOLS),yes)
	bash .ci/install-deps
endif

hosted: deps
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug > /dev/null
	cmake --build $(HOST) -j $(JOBS)

# The program users run is built optimized, apart from the tests' Debug build: a snapshot of a
# Windows 10 machine holds a million registry keys. The benchmarks share the build.
OPTIMIZED := build/optimized
optimized: deps
	cmake -S . -B $(OPTIMIZED) -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
	cmake --build $(OPTIMIZED) -j $(JOBS) --target uninstall-sim

demo: optimized
	$(OPTIMIZED)/tools/uninstall-sim --complete

test-hosted: hosted
	cd $(HOST) && ctest --output-on-failure -j $(JOBS)

test: test-hosted test-sanitize test-fuzz
	@$(MAKE) --no-print-directory test-windows

# The PE checks of the release and the end-to-end scenarios under Wine (skipped with a message
# by e2e/run.py when 32-bit or 64-bit Wine is missing). Each scenario's seeded machine is also
# snapshotted with tools/snapshot.bat and rehearsed with the hosted uninstall-sim.
test-windows: hosted
ifeq ($(HAVE_MINGW),yes)
	@$(MAKE) --no-print-directory windows
	python3 e2e/run.py
else
	@echo "skipping the Windows build and its tests: $(MINGW32) and $(MINGW64) are not installed"
endif

# What an administrator copies: the 32-bit program, which users start on every Windows, and
# the 64-bit edition it hands the run to on 64-bit Windows.
windows:
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake > /dev/null
	cmake --build $(WIN32) -j $(JOBS)
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake > /dev/null
	cmake --build $(WIN64) -j $(JOBS)
	@mkdir -p $(RELEASE)
	cp -p $(WIN32)/QuendalUninstall.exe $(RELEASE)/QuendalUninstall.exe
	cp -p $(WIN64)/QuendalUninstall.exe $(RELEASE)/QuendalUninstall64.exe
	@$(MAKE) --no-print-directory $(foreach arch,$(WIN32) $(WIN64),$(arch)/e2e/harness.exe \
	  $(arch)/e2e/runtime_test.exe)

# The end-to-end harness, an ordinary Windows program with its C/C++ runtime linked in, for
# each prefix: a 32-bit prefix runs no 64-bit program.
$(WIN32)/e2e/harness.exe: e2e/harness.cpp
	@mkdir -p $(dir $@)
	$(MINGW32) -std=c++17 -O2 -Wall -Wextra -Werror -static -o $@ $< -lshell32
$(WIN64)/e2e/harness.exe: e2e/harness.cpp
	@mkdir -p $(dir $@)
	$(MINGW64) -std=c++17 -O2 -Wall -Wextra -Werror -static -o $@ $< -lshell32

# The test of app/runtime.cpp, built without a runtime like the uninstaller, for both
# targets (32-bit C names carry a leading underscore at link level).
RUNTIME_TEST_FLAGS := -std=c++17 -Os -Wall -Wextra -Werror -nostdlib -nostartfiles \
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables \
  -fno-stack-protector -fno-tree-loop-distribute-patterns
$(WIN32)/e2e/runtime_test.exe: e2e/runtime_test.cpp app/runtime.cpp
	@mkdir -p $(dir $@)
	$(MINGW32) $(RUNTIME_TEST_FLAGS) -Wl,-e,_runtime_test_entry -o $@ $^ -lkernel32
$(WIN64)/e2e/runtime_test.exe: e2e/runtime_test.cpp app/runtime.cpp
	@mkdir -p $(dir $@)
	$(MINGW64) $(RUNTIME_TEST_FLAGS) -Wl,-e,runtime_test_entry -o $@ $^ -lkernel32

# Reliability: the hosted tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# fuzz targets (clang with libFuzzer), and the benchmarks (in the optimized build).
SANITIZE := build/sanitize
FUZZ := build/fuzz
FUZZ_TARGETS := fuzz_command_tail fuzz_cp932 fuzz_inf fuzz_reg_file fuzz_whole_run
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 6
HAVE_CLANG := $(shell command -v clang++ >/dev/null 2>&1 && echo yes)
SANITIZER_OPTIONS := ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: test-sanitize fuzz-build fuzz test-fuzz bench

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DQUENDAL_SANITIZE=ON > /dev/null
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && $(SANITIZER_OPTIONS) ctest --output-on-failure -j $(JOBS)

fuzz-build:
	cmake -S . -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUENDAL_FUZZ=ON > /dev/null
	cmake --build $(FUZZ) -j $(JOBS) --target fuzz_all

# Each target runs over its seed corpus in fuzz/corpus/<target> and a scratch corpus in
# build/fuzz/work/<target>, which receives the new inputs; a crash leaves its input there too.
# libFuzzer's own leak check per input is off: the simulation keeps its call record from one
# input to the next; what the program leaves open is checked by the targets themselves.
define run_fuzzers
	@for target in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ)/work/$$target; \
	  $(SANITIZER_OPTIONS) $(FUZZ)/fuzz/$$target -max_total_time=$(1) -max_len=8192 -detect_leaks=0 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ)/work/$$target- \
	    $(FUZZ)/work/$$target fuzz/corpus/$$target > $(FUZZ)/work/$$target.log 2>&1 \
	    || { tail -60 $(FUZZ)/work/$$target.log; exit 1; }; \
	  echo "$$target: $$(grep -o 'number_of_executed_units: [0-9]*' $(FUZZ)/work/$$target.log \
	    | cut -d' ' -f2) executions in $(1) s"; \
	done
endef

fuzz: fuzz-build
	$(call run_fuzzers,$(FUZZ_SECONDS))

test-fuzz:
ifeq ($(HAVE_CLANG),yes)
	@$(MAKE) --no-print-directory fuzz-build
	$(call run_fuzzers,$(FUZZ_SMOKE_SECONDS))
else
	@echo "skipping the fuzz targets: clang++ is not installed"
endif

bench: optimized
	cmake --build $(OPTIMIZED) -j $(JOBS) --target uninstaller_bench snapshot_bench
	$(OPTIMIZED)/bench/uninstaller_bench
	$(OPTIMIZED)/bench/snapshot_bench $(OPTIMIZED)/tools/uninstall-sim

clean:
	rm -rf build
