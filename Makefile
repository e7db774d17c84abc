# make demo     build the hosted program and rehearse an uninstall on the default simulated machine
# make test     hosted build and all its tests; then, where MinGW-w64 and Wine are installed,
#               both Windows builds and their checks and end-to-end tests
# make windows  build/win32/QuendalUninstall.exe (release) and build/win64/QuendalUninstall.exe

HOST := build/host
JOBS ?= 2

WIN32 := build/win32
WIN64 := build/win64
MINGW32 := i686-w64-mingw32-g++
MINGW64 := x86_64-w64-mingw32-g++
HAVE_MINGW := $(shell command -v $(MINGW32) >/dev/null 2>&1 && command -v $(MINGW64) >/dev/null 2>&1 && echo yes)

.PHONY: all hosted demo test test-hosted test-windows windows clean

all: hosted

hosted:
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug > /dev/null
	cmake --build $(HOST) -j $(JOBS)

demo: hosted
	$(HOST)/tools/uninstall-sim --complete

test-hosted: hosted
	cd $(HOST) && ctest --output-on-failure -j $(JOBS)

test: test-hosted
	@$(MAKE) --no-print-directory test-windows

# The PE checks of both executables and the end-to-end scenarios under Wine (skipped with a
# message by e2e/run.py when wine64 is missing).
test-windows:
ifeq ($(HAVE_MINGW),yes)
	@$(MAKE) --no-print-directory windows
	python3 e2e/run.py
else
	@echo "skipping the Windows build and its tests: $(MINGW32) and $(MINGW64) are not installed"
endif

windows:
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake > /dev/null
	cmake --build $(WIN32) -j $(JOBS)
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake > /dev/null
	cmake --build $(WIN64) -j $(JOBS)
	@$(MAKE) --no-print-directory $(WIN64)/e2e/harness.exe $(WIN64)/e2e/runtime_test.exe

# The end-to-end harness, an ordinary 64-bit Windows program with its C/C++ runtime linked in.
$(WIN64)/e2e/harness.exe: e2e/harness.cpp
	@mkdir -p $(dir $@)
	$(MINGW64) -std=c++17 -O2 -Wall -Wextra -Werror -static -o $@ $<

# The test of app/runtime.cpp, built without a runtime like the uninstaller.
$(WIN64)/e2e/runtime_test.exe: e2e/runtime_test.cpp app/runtime.cpp
	@mkdir -p $(dir $@)
	$(MINGW64) -std=c++17 -Os -Wall -Wextra -Werror -nostdlib -nostartfiles -fno-exceptions \
	  -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector \
	  -fno-tree-loop-distribute-patterns -Wl,-e,runtime_test_entry -o $@ $^ -lkernel32

clean:
	rm -rf build
