# `make run`  installs what is missing, builds, and runs the main program.
# `make test` installs what is missing, builds, runs every test, then the same suite under
#             AddressSanitizer and UndefinedBehaviorSanitizer.
#             It first checks that every C++ file is in the tree's one format.
# `make format` puts every C++ file into that format (.clang-format).
# `make screenshots` writes a picture of every window into docs/screenshots/.
# `make bench`, `make fuzz` build and run the benchmarks and the fuzz targets.
# `make soak` runs the load test (IMAP, POP3 and SMTP at once against the real program) for
#             SOAK_SECONDS (600); `make test` runs the same test for 60 s.
# `make install` builds and installs into the prefix of the build (~/.local unless configured
#             otherwise); PREFIX=dir installs elsewhere, DESTDIR=dir stages the tree there.
# `make package` builds the Debian package $(BUILD)/orvanta_<version>_<arch>.deb.
JOBS     ?= $(shell nproc)
BUILD    ?= build
ASAN     ?= build-asan
BENCHDIR ?= build-bench
FUZZDIR  ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?= 0
SOAK_SECONDS ?= 600
CTEST_ARGS ?=
PREFIX   ?=
DESTDIR  ?=

# The C++ files of the tree, committed or not (build trees are ignored by git).
CXX_FILES = $(wildcard $(shell git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h'))

.PHONY: all deps build run test test-plain test-asan format format-check screenshots bench fuzz soak clean install package

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

test: deps format-check test-plain test-asan

# Pictures of the tray application's windows at 96 and 144 dpi, under Xvfb.
screenshots: build
	@bash scripts/screenshots.sh $(BUILD) docs/screenshots

format:
	@clang-format -i --style=file $(CXX_FILES)

format-check:
	@clang-format --dry-run -Werror --style=file $(CXX_FILES)

test-plain: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-asan:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DORVANTA_SANITIZE=ON
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

package: build
	cd $(BUILD) && cpack -G DEB

bench: deps
	cmake -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release -DORVANTA_BENCH=ON
	cmake --build $(BENCHDIR) -j $(JOBS)
	@bash scripts/run-bench.sh $(BENCHDIR)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_FUZZ=ON
	cmake --build $(FUZZDIR) -j $(JOBS) --target fuzz_targets
	@bash scripts/run-fuzz.sh $(FUZZDIR) $(FUZZ_SECONDS) $(FUZZ_RUNS)

soak: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target orvanta orvanta-reg pipeline_rules
	ORVANTA_LOAD_SECONDS=$(SOAK_SECONDS) ORVANTA_BINARY_DIR=$(abspath $(BUILD)) ORVANTA_SOURCE_DIR=$(CURDIR) \
	  ORVANTA_CORPUS_SCRIPT=$(CURDIR)/scripts/fetch-corpus.sh PYTHONPATH=$(CURDIR)/tests/integration/lib \
	  /usr/bin/python3 tests/integration/test_load.py -v

clean:
	rm -rf $(BUILD) $(ASAN) $(BENCHDIR) $(FUZZDIR)
