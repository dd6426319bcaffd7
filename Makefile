# ./run.sh and ./test.sh start from a fresh Debian 12 machine: they install make, then
#   make run    installs what is missing, builds, imports the example workbook and shows it
#   make test   the same set-up, then every test, also under ASan and UBSan with plain char
#               unsigned as on the target
# `make test-target` cross-builds for the target (32-bit big-endian PowerPC) and runs the
# unit suites under qemu-ppc; `make install PREFIX=P` installs sheaf and its module.
PACKAGES := g++ make cmake pkg-config libarchive-dev libgtest-dev libgmock-dev
BENCH_PACKAGES := libbenchmark-dev unzip time bc xlsx2csv
TARGET_PACKAGES := g++-powerpc-linux-gnu binutils-powerpc-linux-gnu qemu-user googletest
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
WERROR ?= OFF

COVERAGE_PACKAGES := gcovr

.PHONY: all deps build run test test-target bench coverage install clean

all: build

deps:
	@missing=""; for p in $(PACKAGES) $(EXTRA_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSHEAF_WERROR=$(WERROR)
	cmake --build build -j $(JOBS)

run: build
	./build/sheaf examples/example.xlsx

# Warnings are findings: the tested trees take none.
test: WERROR := ON
test: build
	cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DSHEAF_SANITIZE=ON -DSHEAF_UNSIGNED_CHAR=ON \
	      -DSHEAF_WERROR=ON
	cmake --build build-san -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)
	cd build-san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The module file warning-free with its symbols checked, and the units under emulation.
test-target:
	$(MAKE) deps EXTRA_PACKAGES="$(TARGET_PACKAGES)"
	cmake -S . -B build-target -DSHEAF_TARGET=ON \
	      -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/powerpc-linux-gnu.cmake
	cmake --build build-target -j $(JOBS)
	cd build-target && ctest --output-on-failure -j $(JOBS)

bench:
	$(MAKE) deps EXTRA_PACKAGES="$(BENCH_PACKAGES)"
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSHEAF_BENCH=ON
	cmake --build build -j $(JOBS)
	./bench/run.sh build

# Lines and branches of the module's code that the tests take.
coverage:
	$(MAKE) deps EXTRA_PACKAGES="$(COVERAGE_PACKAGES)"
	cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DSHEAF_COVERAGE=ON
	cmake --build build-cov -j $(JOBS)
	find build-cov -name '*.gcda' -delete
	cd build-cov && ctest -j $(JOBS) > /dev/null || true
	gcovr -r . build-cov --filter 'module/' --filter 'xml/' --filter 'formula/' \
	      --exclude-unreachable-branches --exclude-throw-branches --print-summary | tail -n 3

# sheaf in $(PREFIX)/bin, the module file in $(PREFIX)/lib/sheaf where sheaf looks for it.
install: build
	cmake --install build --prefix $(PREFIX)

clean:
	rm -rf build build-san build-target build-cov
