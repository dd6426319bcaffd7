# ./run.sh and ./test.sh start from a fresh Debian 12 machine: they install make, then
#   make run    installs what is missing, builds, imports the example workbook and shows it
#   make test   the same set-up, then every test, also under ASan and UBSan with plain char
#               unsigned as on the target
# `make test-target` cross-builds for the target (32-bit big-endian PowerPC) and runs the
# unit suites under qemu-ppc; `make install PREFIX=P` installs sheaf and its module.
# `make fuzz` runs each fuzz target for FUZZ_SECONDS (clang with libFuzzer).
PACKAGES := g++ make cmake pkg-config libarchive-dev libdeflate-dev libgtest-dev libgmock-dev python3
BENCH_PACKAGES := libbenchmark-dev unzip time bc xlsx2csv valgrind
TARGET_PACKAGES := g++-powerpc-linux-gnu binutils-powerpc-linux-gnu qemu-user googletest
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
WERROR ?= OFF
FUZZ_PACKAGES := clang libclang-rt-dev
FUZZ_CXX ?= clang++
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := scanner formula import

COVERAGE_PACKAGES := gcovr

.PHONY: all deps build run test test-target bench bench-hostile coverage install fuzz mutate clean

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

# The largest hostile books, one import each: a long comment, an archive that reads two
# ways, lookups at scale and a UTF-16 member of 330 MiB.
bench-hostile: build
	$(MAKE) deps EXTRA_PACKAGES="bc"
	./bench/hostile.sh build

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

# One target at a time, on one core, from its seeds, past finds and (when ../shared/corpus
# is there) seeds made from the real workbooks. What a run learns stays in
# build-fuzz/corpus/<target>; an input that breaks something lands in
# build-fuzz/findings/<target>/ and belongs, once fixed, in fuzz/findings/<target>/.
fuzz:
	$(MAKE) deps EXTRA_PACKAGES="$(FUZZ_PACKAGES)"
	@echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
	  | $(FUZZ_CXX) -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null || { \
	  echo "make fuzz: $(FUZZ_CXX) cannot build libFuzzer targets; they need clang with its" \
	       "libFuzzer runtime (FUZZ_CXX=clang++, packages $(FUZZ_PACKAGES))" >&2; exit 1; }
	CXX=$(FUZZ_CXX) cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHEAF_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzz)
	@if [ -d ../shared/corpus ] && [ ! -d build-fuzz/seeds ]; then \
	  fuzz/make_seeds.sh ../shared/corpus build-fuzz/seeds; fi
	@for t in $(FUZZ_TARGETS); do \
	  case $$t in formula) dict=formula.dict; len=4106;; import) dict=xml.dict; len=32768;; \
	              *) dict=xml.dict; len=16384;; esac; \
	  more=; for d in build-fuzz/seeds/$$t fuzz/findings/$$t; do \
	    [ -d $$d ] && more="$$more $$d"; done; \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/findings/$$t; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  ./build-fuzz/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=$$len -timeout=20 \
	    -dict=fuzz/$$dict -artifact_prefix=build-fuzz/findings/$$t/ -print_final_stats=1 \
	    build-fuzz/corpus/$$t fuzz/seeds/$$t $$more || exit 1; \
	done

# MUTANTS faults put one at a time into module/, xml/ and formula/, picked by SEED; each is
# built in build-mutate (made once) and tested, and one the tests let through is tried again
# under the sanitizers in build-mutate-san; the score and every survivor at the end.
MUTANTS ?= 300
SEED ?= 1
MUTANT_TIMEOUT ?= 120
mutate: deps
	python3 mutate/mutate.py --mutants $(MUTANTS) --seed $(SEED) --timeout $(MUTANT_TIMEOUT) \
	        --build build-mutate --recheck build-mutate-san

clean:
	rm -rf build build-san build-target build-cov build-fuzz build-mutate build-mutate-san
