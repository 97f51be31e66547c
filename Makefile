# Front door. `make` builds the five plug-ins into dist/ (two for Windows, three for Linux: x86-64,
# aarch64 and armhf), `make test` runs every test, `make demo` drives the 64-bit plug-in through
# the command-line host on a sample playlist, `make dc-check` drives the x86-64 Linux one in the
# real Double Commander.
SHELL := /bin/bash
JOBS ?= 2
WINE_RUN := $(CURDIR)/cmake/wine-run
TOOLS := cmake x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix clang clang-format xvfb-run \
         /usr/lib/wine/wine64 /usr/lib/wine/wine doublecmd xdotool xclip convert \
         /usr/bin/python3 unzip faketime aarch64-linux-gnu-g++ arm-linux-gnueabihf-g++ \
         qemu-aarch64 qemu-arm mpv
# `make dist BUILD_TARGETS=m3u_plugin` builds the plug-ins alone, without the test programs.
BUILD_TARGETS ?=

.PHONY: all setup native linux linux-asan linux-aarch64 linux-armhf win64 win32 dist release test \
        test-native test-linux test-arm test-linux-aarch64 test-linux-armhf test-fuzz test-win64 \
        test-win32 test-release dc-check dc-install demo bench fuzz format format-check clean

all: dist

setup:
	@for t in $(TOOLS); do command -v $$t >/dev/null || { tools/setup; break; }; done
	@[ -d /usr/src/googletest ] && [ -f /usr/include/taglib/fileref.h ] && \
		locale -a | grep -qi '^ru_RU.utf-\?8$$' || tools/setup

build/%/CMakeCache.txt: | setup
	cmake --preset $* >/dev/null

native linux linux-asan linux-aarch64 linux-armhf win64 win32: %: setup build/%/CMakeCache.txt
	cmake --build build/$* -j$(JOBS) $(if $(BUILD_TARGETS),--target $(BUILD_TARGETS))

dist: win64 win32 dist/linux-x86_64/M3U.wcx dist/linux-aarch64/M3U.wcx dist/linux-armhf/M3U.wcx
	mkdir -p dist
	cp build/win64/M3U.wcx64 build/win32/M3U.wcx dist/

dist/linux-x86_64/M3U.wcx: linux
	mkdir -p dist/linux-x86_64
	cp build/linux/M3U.wcx $@

# The ARM builds, with Debian's cross compilers.
dist/linux-%/M3U.wcx: linux-%
	mkdir -p $(@D)
	cp build/linux-$*/M3U.wcx $@

# The zips users download, each printed with its SHA-256.
release: dist
	tools/release

test: format-check dist native test-native test-linux test-arm dc-check test-fuzz test-win64 \
      test-win32 test-release dc-install

test-native: native
	ctest --preset native -j$(JOBS)

# The Linux plug-in as shipped (exports, a session through the command-line host), then the
# suites under its conventions with sanitizers.
test-linux: linux linux-asan
	ctest --preset linux
	ctest --preset linux-asan -j$(JOBS)

# The ARM builds under qemu-user, with the cross C libraries as the loader's root: the plug-in's
# exports and machine, the session through the cross-built command-line host, the suites.
test-arm: test-linux-aarch64 test-linux-armhf

test-linux-aarch64 test-linux-armhf: test-%: %
	ctest --preset $* -j$(JOBS)

# The Linux plug-in in the real Double Commander under Xvfb; its screenshot lands in build/dc-check.
dc-check: dist/linux-x86_64/M3U.wcx
	tests/dc-check dist/linux-x86_64/M3U.wcx

# The Linux release zip installed in Double Commander by its own means, then used; see
# build/dc-install. The release holds one zip per system, of the current version.
dc-install: release
	tests/dc-install dist/M3U-*-linux-x86_64.zip

# Wine's server must see the display from its start, or message boxes keep failing.
test-win64: win64
	-WINEPREFIX=$(CURDIR)/build/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null
	xvfb-run -a ctest --preset win64

# The same under Wine's 32-bit loader, in the prefix build/wineprefix32: natively where the kernel
# runs i386 programs, else (or with M3U_I386=qemu) under qemu-i386, registered for this run only
# (fetched into build/tools by tools/setup on such a kernel, or here when missing).
test-win32: win32
	-WINEPREFIX=$(CURDIR)/build/wineprefix32 /usr/lib/wine/wineserver -k 2>/dev/null
	cmake/with-qemu-i386 xvfb-run -a ctest --preset win32

# Builds the release again in another folder on another day and compares, then checks the zips.
test-release: release
	tests/release-check

# A few seconds per fuzz target keep CI short; `make fuzz` runs each for a minute.
test-fuzz: setup
	tools/fuzz 5

fuzz: setup
	tools/fuzz $(or $(FUZZ_SECONDS),60)

demo: dist
	tools/demo

bench: native win64
	tools/bench

# The sources: git's list in a clone, the files themselves in a source archive (no .git).
SOURCES_CMD := if [ "$$(git rev-parse --show-toplevel 2>/dev/null)" = "$$(pwd -P)" ]; then \
	git ls-files '*.cpp' '*.h'; else find . -path ./build -prune -o -path ./dist -prune -o \
	-type f \( -name '*.cpp' -o -name '*.h' \) -printf '%P\n' | LC_ALL=C sort; fi

format:
	clang-format -i $$($(SOURCES_CMD))

format-check: setup
	clang-format --dry-run -Werror $$($(SOURCES_CMD)) </dev/null

clean:
	rm -rf build dist
