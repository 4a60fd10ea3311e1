# Two entry points for people: `make demo` builds Pelmora and runs it on the
# shipped example; `make test` builds everything and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test win32 clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The demo needs only the program and its derived table, not the tests.
demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target pelmora pelmora_table
	sh examples/run-demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The 32-bit Windows console program, cross-compiled with MinGW-w64
# (Debian package g++-mingw-w64-i686): build-win32/bin/pelmora.exe.
win32:
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DPELMORA_TESTS=OFF
	cmake --build build-win32 -j $(JOBS)

clean:
	rm -rf $(BUILD) build-win32
