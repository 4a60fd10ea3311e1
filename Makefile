# Two entry points for people: `make demo` builds Pelmora and runs it on the
# shipped example; `make test` builds everything and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test win32 test-e2e-win32 packages clean

all: build

# The build generates the Shift_JIS decoding table with Python 3; root
# installs it on a machine that has none.
NEED_PYTHON3 = if ! command -v python3 >/dev/null && [ "$$(id -u)" = 0 ]; then \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3 || \
	  { apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3; }; \
	fi

$(BUILD)/CMakeCache.txt:
	@$(NEED_PYTHON3)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The demo needs only what is installed (the two programs, the derived
# table, the manual pages), not the tests.
demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target pelmora pelmora-check \
	      pelmora_table pelmora_documents
	sh examples/run-demo.sh $(BUILD)

# GoogleTest comes installed (libgtest-dev) or as sources (googletest),
# which the build compiles itself; when neither is there, root installs
# the sources. A build with no test in it is a failure, never a pass.
test:
	@if [ ! -f /usr/include/gtest/gtest.h ] && \
	    [ ! -f /usr/src/googletest/CMakeLists.txt ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq googletest || \
	    { apt-get update -qq && \
	      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq googletest; }; \
	  else \
	    echo "GoogleTest is missing: apt-get install googletest" >&2; exit 1; \
	  fi; \
	fi
	@# strace lets one end-to-end test kill a run at each of its system
	@# calls; without it that test says so and is skipped.
	@if ! command -v strace >/dev/null && [ "$$(id -u)" = 0 ]; then \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace || \
	  { apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace; } || \
	  echo "strace could not be installed: one test will be skipped" >&2; \
	fi
	@$(NEED_PYTHON3)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# The 32-bit Windows console program, cross-compiled with MinGW-w64
# (Debian package g++-mingw-w64-i686): build-win32/bin/pelmora.exe.
win32:
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DPELMORA_TESTS=OFF
	cmake --build build-win32 -j $(JOBS)

# The end-to-end cases against the Windows program under Wine, in a Japanese
# prefix (code page 932; tools/wine_prefix.sh) whose system PATH is cleared,
# so that the program's Path search sees only what a case sets. The Linux
# test binary is built in a folder of its own, where the cases are also
# registered for the launcher (label "wine"): `make test` stays as it is.
# One wineserver serves every case and is stopped at the end.
E2E_WIN32_BUILD ?= build-e2e-win32
WINE_ENVIRONMENT_KEY = HKLM\System\CurrentControlSet\Control\Session Manager\Environment

test-e2e-win32: win32
	cmake -S . -B $(E2E_WIN32_BUILD) -DCMAKE_BUILD_TYPE=Release \
	      -DPELMORA_E2E_WINDOWS_PROGRAM=$(CURDIR)/build-win32/bin/pelmora.exe
	cmake --build $(E2E_WIN32_BUILD) -j $(JOBS) --target pelmora_e2e_tests
	@set -e; eval "$$(tools/wine_prefix.sh)"; \
	wineserver -p </dev/null >/dev/null 2>&1 || true; \
	wine reg delete '$(WINE_ENVIRONMENT_KEY)' /v PATH /f \
	     </dev/null >/dev/null 2>&1 || true; \
	wine cmd.exe /c exit </dev/null >/dev/null 2>&1; \
	status=0; \
	(cd $(E2E_WIN32_BUILD) && ctest -L wine --output-on-failure -j $(JOBS)) \
	  || status=$$?; \
	wineserver -k || true; \
	exit $$status

# Every unit test as a 32-bit Windows program under Wine, listed and run by
# CTest: a build of its own (build-win32-tests) with the toolchain of the
# program, in a Japanese prefix of its own (build-win32-tests/wine), with one
# wineserver kept running from the first build step to the last test. Its
# first program starts Wine's services, which outlive it holding its output:
# that must be no test's, or CTest would wait for it to close.
.PHONY: test-win32
test-win32:
	@eval "$$(sh tools/wine_prefix.sh build-win32-tests/wine)" && \
	trap 'wineserver -k >/dev/null 2>&1' EXIT && \
	wineserver -p </dev/null >/dev/null 2>&1 && \
	wine cmd.exe /c exit </dev/null >/dev/null 2>&1 && \
	cmake -S . -B build-win32-tests \
	      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-wine.cmake \
	      -DCMAKE_BUILD_TYPE=Release && \
	cmake --build build-win32-tests -j $(JOBS) && \
	cd build-win32-tests && ctest -j2 --output-on-failure

# The README's batch-file example, run by cmd.exe under Wine in the prefix of
# the end-to-end cases, against the Windows program and the table the Linux
# build derived.
.PHONY: test-readme-win32
test-readme-win32: win32 build
	@eval "$$(tools/wine_prefix.sh)"; status=0; \
	python3 tests/docs/check_docs.py readme-windows README.md \
	  build-win32/bin/pelmora.exe "$(BUILD)/table/UTF16~MS932.bin" \
	  || status=$$?; \
	wineserver -k || true; \
	exit $$status

# All three, one after the other: everything the Windows program is tested
# with.
.PHONY: test-windows
test-windows: test-win32 test-e2e-win32 test-readme-win32

# The packages: $(BUILD)/pelmora_<version>_amd64.deb (the program in
# /usr/bin, both tables in /usr/share/pelmora, the manual pages in English
# and Japanese, the READMEs and the examples in /usr/share/doc/pelmora) and
# build-win32/pelmora-<version>-win32.zip (pelmora.exe, README.txt, the
# manual pages as MANUAL.txt, rendered by mandoc or groff, their Japanese
# twins README-windows.ja.txt and MANUAL.ja.txt, and both tables in
# Quorvelin\). The Windows build cannot run its own program, so
# the table it ships is the one the native build derived: the derivation
# gives the same bytes on both platforms.
.PHONY: packages
packages: build
	cd $(BUILD) && cpack -G DEB
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DPELMORA_TESTS=OFF \
	      "-DPELMORA_PREBUILT_TABLE=$(CURDIR)/$(BUILD)/table/UTF16~MS932.bin"
	cmake --build build-win32 -j $(JOBS)
	cd build-win32 && cpack -G ZIP

clean:
	rm -rf $(BUILD) build-win32 build-win32-tests build-e2e-win32
