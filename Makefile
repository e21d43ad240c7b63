# Two commands for people:
#   make run    build, lay out a fresh station in build/station and run the
#               program there on the virtual board (ARGS="-B2 -V" passes options)
#   make test   build and run the whole test suite
# and, for CI and porting:
#   make bench     the benchmarks (unpaced virtual board against memcpy)
#   make asan      the test suite built with AddressSanitizer and UBSan
#   make tsan      the test suite built with ThreadSanitizer
#   make fuzz      each fuzzing target of test/fuzz for FUZZ_SECONDS seconds
#   make windows   cross-compile for Windows with MinGW-w64 (build-windows/);
#                  QAL_LIBRARY=... links a real board's adapter instead of
#                  the virtual board
#   make install   install into PREFIX (default /usr/local)
# and, for a test bench with a real board, against its adapter library:
#   make bench-build QAL_LIBRARY=/path/to/libqal-adapter.so   (build-bench/)
#   make bench-install QAL_LIBRARY=/path/to/libqal-adapter.so PREFIX=...

BUILD    ?= build
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX   ?= /usr/local
ARGS     ?=
QAL_LIBRARY   ?=
BENCH_BUILD   ?= build-bench
WINDOWS_BUILD ?= build-windows
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
TSAN_BUILD    ?= build-tsan

# The board-access library as CMake options: the virtual board, or the
# adapter QAL_LIBRARY names. Both are always passed, so a build directory
# never keeps the other choice from an earlier configure.
ifeq ($(strip $(QAL_LIBRARY)),)
QAL_OPTIONS := -DZT_BUILD_SIM=ON -DZT_QAL_LIBRARY=
else
QAL_OPTIONS := -DZT_BUILD_SIM=OFF -DZT_QAL_LIBRARY=$(abspath $(QAL_LIBRARY))
endif

.PHONY: all build run test bench asan tsan fuzz windows install bench-build bench-install need-qal-library clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -G "$(GENERATOR)" $(CMAKE_ARGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	rm -rf $(BUILD)/station
	cp -r station $(BUILD)/station
	cd $(BUILD)/station && exec ../zorvantik-test $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	cd $(BUILD) && ./zt_bench

asan:
	$(MAKE) test BUILD=build-asan CMAKE_ARGS="-DZT_SANITIZE=ON -DZT_BUILD_BENCH=OFF"

# The suite with g++ -fsanitize=thread: a report ends the binary that sees
# it with status 66, so its test fails. The program runs several times
# slower, so the tests' waits for it are stretched.
TSAN_CMAKE := -DZT_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread \
              -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
tsan:
	$(MAKE) build BUILD=$(TSAN_BUILD) CMAKE_ARGS="$(TSAN_CMAKE)"
	cd $(TSAN_BUILD) && ZT_TEST_TIME_SCALE=4 \
	    TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 $(TSAN_OPTIONS)" \
	    ctest --output-on-failure -j $(JOBS)

# Each fuzzing target of test/fuzz (clang++ and libFuzzer, a build of its
# own) for FUZZ_SECONDS seconds; a crash, leak or hang fails, and its
# reproducer stays in $(FUZZ_BUILD)/artifacts/<target>/.
fuzz:
	JOBS=$(JOBS) test/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

windows:
	cmake -S . -B $(WINDOWS_BUILD) -G "$(GENERATOR)" \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF \
	    $(QAL_OPTIONS) -DZT_QAL_DLL= $(CMAKE_ARGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

need-qal-library:
	@test -n "$(strip $(QAL_LIBRARY))" || { \
	    echo "QAL_LIBRARY is not set: make $(firstword $(MAKECMDGOALS)) QAL_LIBRARY=/path/to/libqal-adapter.so" >&2; \
	    exit 2; }

bench-build: need-qal-library
	cmake -S . -B $(BENCH_BUILD) -G "$(GENERATOR)" $(QAL_OPTIONS) $(CMAKE_ARGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)

bench-install: bench-build
	cmake --install $(BENCH_BUILD) --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-windows build-bench $(FUZZ_BUILD) $(TSAN_BUILD)
