# Two commands for people:
#   make run    build, lay out a fresh station in build/station and run the
#               program there on the virtual board (ARGS="-B2 -V" passes options)
#   make test   build and run the whole test suite
# and, for CI and porting:
#   make bench     the benchmarks (unpaced virtual board against memcpy)
#   make asan      the test suite built with AddressSanitizer and UBSan
#   make windows   cross-compile for Windows with MinGW-w64
#   make install   install into PREFIX (default /usr/local)

BUILD    ?= build
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX   ?= /usr/local
ARGS     ?=

.PHONY: all build run test bench asan windows install clean

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

windows:
	cmake -S . -B build-windows -G "$(GENERATOR)" \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF
	cmake --build build-windows -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-windows
