# Front door for the two set-up commands (`make run`, `make test`) and the usual chores.
# Every target installs what it needs first, so each works on a fresh Debian machine.

SHELL := /bin/bash
JOBS ?= $(shell nproc)
DEMO_DIR ?= out/demo
CLI := build/release/src/cli/korvan-cli
GUI := build/release/src/app/korvan

.PHONY: all deps configure build run demo test test-release test-asan test-clang test-fuzz \
	test-fuzz-closed bench \
	format clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake --preset release >/dev/null

build: configure
	cmake --build --preset release -j $(JOBS)

# The desktop program when there is a display to show it on, the built-in demo otherwise.
# It starts in its own folder, where the about box finds myfile.rtf.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -x $(GUI) ]; then \
		cd $(dir $(GUI)) && ./korvan; \
	else \
		echo "No display (or no desktop build): running the headless demo instead." >&2; \
		$(MAKE) --no-print-directory demo; \
	fi

demo: build
	mkdir -p $(DEMO_DIR)
	cd $(DEMO_DIR) && $(CURDIR)/$(CLI) demo

test-release: build
	ctest --preset release -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The core and the command line built by clang without the desktop program: another compiler's
# warnings, and the build a machine without Qt gets.
test-clang: deps
	CC=clang CXX=clang++ cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DKORVAN_BUILD_GUI=OFF >/dev/null
	cmake --build build/clang -j $(JOBS)
	ctest --test-dir build/clang -j $(JOBS) --output-on-failure

# Each fuzz target for FUZZ_SECONDS on the seeds in tests/fuzz/corpus (new inputs go to a
# scratch folder, not into the repository), with the core instrumented and the sanitizers on.
FUZZ_SECONDS ?= 30
FUZZERS := obj_reader_fuzz obj_numbers_fuzz mesh_preparation_fuzz mesh_source_fuzz closed_engine_fuzz \
	stl_reader_fuzz off_reader_fuzz ply_reader_fuzz threemf_reader_fuzz gcode_reader_fuzz
test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKORVAN_FUZZ=ON -DKORVAN_BUILD_TESTS=OFF -DKORVAN_BUILD_GUI=OFF >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target $(FUZZERS)
	@for f in $(FUZZERS); do \
		seeds=tests/fuzz/corpus/$$(case $$f in mesh_source_fuzz) echo source;; \
			closed_engine_fuzz) echo closed;; stl_reader_fuzz) echo stl;; off_reader_fuzz) echo off;; \
			ply_reader_fuzz) echo ply;; threemf_reader_fuzz) echo 3mf;; gcode_reader_fuzz) echo gcode;; \
			obj_numbers_fuzz) echo obj-numbers;; \
			*) echo obj;; esac); \
		scratch=$$(mktemp -d); \
		echo "== $$f ($(FUZZ_SECONDS) s)"; \
		build/fuzz/tests/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
			-artifact_prefix=build/fuzz/ \
			$$scratch $$seeds 2>&1 | grep -E "^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+ *DONE|==[0-9]+==ERROR|SUMMARY)" ; \
		status=$${PIPESTATUS[0]}; rm -rf $$scratch; \
		if [ $$status -ne 0 ]; then echo "$$f found a fault" >&2; exit 1; fi; \
	done

# The closed engine's fuzz target alone (random solid pairs, all three operations), for a long
# run: make test-fuzz-closed FUZZ_SECONDS=1800.
test-fuzz-closed: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKORVAN_FUZZ=ON -DKORVAN_BUILD_TESTS=OFF -DKORVAN_BUILD_GUI=OFF >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target closed_engine_fuzz
	scratch=$$(mktemp -d); \
	build/fuzz/tests/fuzz/closed_engine_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=512 \
		-print_final_stats=1 -artifact_prefix=build/fuzz/ $$scratch tests/fuzz/corpus/closed; \
	status=$$?; rm -rf $$scratch; exit $$status

test: test-release test-asan test-clang test-fuzz

bench: build
	@for b in build/release/bench/bench_*; do echo "== $$b"; $$b; done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build out
