# make demo     build the hosted program and rehearse an uninstall on the default simulated machine
# make test     hosted build and all its tests; then, where MinGW-w64 and Wine are installed,
#               both Windows builds and their checks and end-to-end tests
# make windows  build/win32/QuendalUninstall.exe (release) and build/win64/QuendalUninstall.exe

HOST := build/host
JOBS ?= 2

.PHONY: all hosted demo test test-hosted windows clean

all: hosted

hosted:
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug > /dev/null
	cmake --build $(HOST) -j $(JOBS)

demo: hosted
	$(HOST)/tools/uninstall-sim

test-hosted: hosted
	cd $(HOST) && ctest --output-on-failure -j $(JOBS)

test: test-hosted

windows:
	@echo "make windows: the Windows executables are not built yet" >&2
	@exit 1

clean:
	rm -rf build
