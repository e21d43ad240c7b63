# Two commands for people, each of which first installs the Debian packages
# it lacks (.ci/install-packages, as root or through sudo):
#   make run    build the program and the virtual board, lay out a fresh
#               station in build/station and run the program there
#               (ARGS="-B2 -V" passes options)
#   make test   build everything and run the whole test suite
# and, for CI, packaging and porting:
#   make bench     the benchmarks (unpaced virtual board against memcpy)
#   make asan      the test suite built with AddressSanitizer and UBSan
#   make tsan      the test suite built with ThreadSanitizer
#   make fuzz      each fuzzing target of test/fuzz for FUZZ_SECONDS seconds
#   make windows   cross-compile for Windows with MinGW-w64 (build-windows/);
#                  QAL_LIBRARY=... links a real board's adapter instead of
#                  the virtual board
#   make install   install into PREFIX (default /usr/local)
#   make package          the Debian package zorvantik-test_<version>_amd64.deb
#                         (build-package/)
#   make windows-package  the Windows zip zorvantik-test-<version>-win64.zip
#                         (build-windows/)
# and, for a test bench with a real board, against its adapter library:
#   make bench-build QAL_LIBRARY=/path/to/libqal-adapter.so   (build-bench/)
#   make bench-install QAL_LIBRARY=/path/to/libqal-adapter.so PREFIX=...

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
# Tests ctest runs at once: most of the suite's time is waiting (paced
# runs, timeouts, the moments of a break), and the virtual board keeps
# its pace on a busy machine, so three per core; under ThreadSanitizer,
# whose tests take several times the CPU, two.
TEST_JOBS ?= $(shell echo $$((3 * $(JOBS))))
TSAN_TEST_JOBS ?= $(shell echo $$((2 * $(JOBS))))
PREFIX   ?= /usr/local
ARGS     ?=
QAL_LIBRARY   ?=
BENCH_BUILD   ?= build-bench
WINDOWS_BUILD ?= build-windows
PACKAGE_BUILD ?= build-package
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
TSAN_BUILD    ?= build-tsan
VERSION := $(shell sed -n 's/^project.zorvantik-test VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The generator of a build directory: the one it was configured with, so
# that `make` and a plain `cmake -S . -B DIR` take turns on one directory;
# for a new one Ninja when it is installed. Expanded late, after the
# packages are in.
cached_generator = $(shell sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' $(1)/CMakeCache.txt 2>/dev/null)
default_generator = $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
generator = $(or $(call cached_generator,$(1)),$(default_generator))
# configure DIR OPTIONS: cmake's configure step for DIR.
configure = cmake -S . -B $(1) -G "$(call generator,$(1))" $(2) $(CMAKE_ARGS)
# cached DIR SETTING: true when DIR's cache holds that line, e.g. ZT_BUILD_TESTS:BOOL=ON.
cached = grep -qsx '$(2)' $(1)/CMakeCache.txt

# The board-access library as CMake options: the virtual board, or the
# adapter QAL_LIBRARY names. Both are always passed, so a build directory
# never keeps the other choice from an earlier configure.
ifeq ($(strip $(QAL_LIBRARY)),)
QAL_OPTIONS := -DZT_BUILD_SIM=ON -DZT_QAL_LIBRARY=
else
QAL_OPTIONS := -DZT_BUILD_SIM=OFF -DZT_QAL_LIBRARY=$(abspath $(QAL_LIBRARY))
endif

.PHONY: all build run test bench asan tsan fuzz windows install package windows-package \
        bench-build bench-install need-qal-library clean packages-run packages-test \
        packages-package packages-windows

all: build

# packages-GROUP: the packages of that group of .ci/install-packages.
packages-run packages-test packages-package packages-windows:
	@.ci/install-packages $(patsubst packages-%,%,$@)

# A directory that `make run` configured has neither tests nor benchmarks;
# `make test` adds the tests, `make bench` the benchmarks.
build: packages-test
	@$(call cached,$(BUILD),ZT_BUILD_TESTS:BOOL=ON) || $(call configure,$(BUILD),-DZT_BUILD_TESTS=ON)
	cmake --build $(BUILD) -j $(JOBS)

run: packages-run
	@test -f $(BUILD)/CMakeCache.txt || $(call configure,$(BUILD),-DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF)
	cmake --build $(BUILD) -j $(JOBS) --target zorvantik-test qal
	rm -rf $(BUILD)/station
	cp -r station $(BUILD)/station
	cd $(BUILD)/station && exec ../zorvantik-test $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

bench: packages-test
	@$(call cached,$(BUILD),ZT_BUILD_BENCH:BOOL=ON) || $(call configure,$(BUILD),-DZT_BUILD_BENCH=ON)
	cmake --build $(BUILD) -j $(JOBS) --target zt_bench
	cd $(BUILD) && ./zt_bench

asan:
	$(MAKE) test BUILD=build-asan CMAKE_ARGS="-DZT_SANITIZE=ON -DZT_BUILD_BENCH=OFF"

# The suite with g++ -fsanitize=thread: a report ends the binary that sees
# it with status 66, so its test fails. The program runs several times
# slower, so the tests' waits for it are stretched. A binary that ends
# waits 50 ms for threads still at work, not ThreadSanitizer's 1 s: the
# suite starts the program over and over.
TSAN_CMAKE := -DZT_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread \
              -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
tsan:
	$(MAKE) build BUILD=$(TSAN_BUILD) CMAKE_ARGS="$(TSAN_CMAKE)"
	cd $(TSAN_BUILD) && ZT_TEST_TIME_SCALE=4 \
	    TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 atexit_sleep_ms=50 $(TSAN_OPTIONS)" \
	    ctest --output-on-failure -j $(TSAN_TEST_JOBS)

# Each fuzzing target of test/fuzz (clang++ and libFuzzer, a build of its
# own) for FUZZ_SECONDS seconds; a crash, leak or hang fails, and its
# reproducer stays in $(FUZZ_BUILD)/artifacts/<target>/.
fuzz:
	JOBS=$(JOBS) test/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

windows: packages-windows
	$(call configure,$(WINDOWS_BUILD),-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	    -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF $(QAL_OPTIONS) -DZT_QAL_DLL=)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The zip a Windows bench unpacks anywhere: one folder that is a station
# with the program and its board library in it, and the documentation.
WINDOWS_ZIP := zorvantik-test-$(VERSION)-win64
windows-package: windows
	rm -rf $(WINDOWS_BUILD)/zip $(WINDOWS_BUILD)/$(WINDOWS_ZIP).zip
	cmake --install $(WINDOWS_BUILD) --prefix $(WINDOWS_BUILD)/zip/install --strip >/dev/null
	mkdir -p $(WINDOWS_BUILD)/zip/$(WINDOWS_ZIP)
	cp -r $(WINDOWS_BUILD)/zip/install/share/zorvantik-test/station/. $(WINDOWS_BUILD)/zip/install/bin/. \
	    $(WINDOWS_BUILD)/zip/$(WINDOWS_ZIP)/
	cp -r $(WINDOWS_BUILD)/zip/install/share/doc/zorvantik-test $(WINDOWS_BUILD)/zip/$(WINDOWS_ZIP)/doc
	cd $(WINDOWS_BUILD)/zip && cmake -E tar cf ../$(WINDOWS_ZIP).zip --format=zip $(WINDOWS_ZIP)
	rm -rf $(WINDOWS_BUILD)/zip
	@echo "$(WINDOWS_BUILD)/$(WINDOWS_ZIP).zip"

install: packages-run
	@test -f $(BUILD)/CMakeCache.txt || $(call configure,$(BUILD),-DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package from a build of its own: installed under /usr, the
# virtual board in the program's private /usr/lib/<multiarch>/zorvantik-test.
# Debian's hardening, as its own packages build.
PACKAGE_CXXFLAGS := -D_FORTIFY_SOURCE=2 -fstack-protector-strong
PACKAGE_LDFLAGS  := -Wl,-z,relro -Wl,-z,now
PACKAGE_LIBDIR = lib/$(shell gcc -print-multiarch)/zorvantik-test
package: packages-package
	$(call configure,$(PACKAGE_BUILD),-DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=$(PACKAGE_LIBDIR) \
	    -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF -DZT_BUILD_SIM=ON -DZT_QAL_LIBRARY= \
	    "-DCMAKE_CXX_FLAGS=$(PACKAGE_CXXFLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(PACKAGE_LDFLAGS)" \
	    "-DCMAKE_SHARED_LINKER_FLAGS=$(PACKAGE_LDFLAGS)")
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls $(PACKAGE_BUILD)/zorvantik-test_*.deb

need-qal-library:
	@test -n "$(strip $(QAL_LIBRARY))" || { \
	    echo "QAL_LIBRARY is not set: make $(firstword $(MAKECMDGOALS)) QAL_LIBRARY=/path/to/libqal-adapter.so" >&2; \
	    exit 2; }

bench-build: need-qal-library packages-run
	$(call configure,$(BENCH_BUILD),$(QAL_OPTIONS))
	cmake --build $(BENCH_BUILD) -j $(JOBS)

bench-install: bench-build
	cmake --install $(BENCH_BUILD) --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-windows build-bench $(PACKAGE_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD)
