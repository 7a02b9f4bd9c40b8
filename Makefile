# Convenience targets. Each one installs what it needs (scripts/bootstrap),
# configures and builds, so that they work on a fresh Debian 12 machine.

BUILD    ?= build
JOBS     ?= 2
CMAKE_FLAGS ?=
OUT      ?= demo-out

.PHONY: all bootstrap build demo test bench bench-large picture clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: bootstrap $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# The main job on the bundled example data: one table, then a whole folder.
demo: build
	@mkdir -p $(OUT)
	$(BUILD)/isotope -i examples/glycopeptides.txt -o $(OUT) -p examples/params.txt
	$(BUILD)/isotope -d examples/batch -o $(OUT) -p examples/params.txt
	@echo "--- $(OUT)/glycopeptides_isotope_pyopenms.txt (first rows) ---"
	@head -n 4 $(OUT)/glycopeptides_isotope_pyopenms.txt

# The README's picture, docs/envelope_EEQYNSTYR_N4H3F1_z2.png, drawn again
# from the freshly built Python module (docs/make_picture.py).
picture: build
	cmake --build $(BUILD) --target picture

# Every test: unit and end-to-end tests of the core and the command line,
# and the Python module's tests (with a pip install from a fresh clone);
# then the core's tests again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and in one with ThreadSanitizer.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DISOTOPE_SANITIZE=ON -DISOTOPE_PYTHON=OFF
	cmake --build $(BUILD)-asan -j$(JOBS)
	ctest --test-dir $(BUILD)-asan --output-on-failure -j$(JOBS)
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DISOTOPE_TSAN=ON -DISOTOPE_PYTHON=OFF
	cmake --build $(BUILD)-tsan -j$(JOBS)
	ctest --test-dir $(BUILD)-tsan --output-on-failure -j$(JOBS)

# Throughput and peak memory at one thread and at every thread on a
# generated realistic 1,000,000-row table and on a 200,000-row library of
# distinct glycopeptides (both seeded, not committed), then the
# micro-benchmarks (the pattern kernel next to OpenMS), then the Python
# module's annotate and patterns; then the MS1 evidence of a 100,000-row
# table in a generated 1 GB mzML run (20,000 MS1 and 100,000 MS2 spectra,
# seeded, not committed) next to OpenMS's load of the whole run.
BENCH_TABLE ?= bench/data/glyco_1M.txt
LIBRARY_TABLE ?= bench/data/library_200k.txt
RUN_MZML ?= bench/data/run_1GB.mzML
RUN_TABLE ?= bench/data/run_1GB.txt
bench: build
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DISOTOPE_BENCH=ON -DISOTOPE_PYTHON=OFF -DISOTOPE_TESTS=OFF
	cmake --build $(BUILD)-bench -j$(JOBS)
	@mkdir -p bench/data bench/data/out
	@test -f $(BENCH_TABLE) || /usr/bin/python3 bench/make_table.py $(BENCH_TABLE) --rows 1000000 --seed 2026
	@test -f $(LIBRARY_TABLE) || /usr/bin/python3 bench/make_table.py $(LIBRARY_TABLE) --rows 200000 --seed 2028 --library
	@printf 'isotope_peaks_num = 5\n' > bench/data/params.txt
	/usr/bin/python3 bench/run_bench.py $(BUILD)-bench/isotope $(BENCH_TABLE) bench/data/params.txt bench/data/out --repeat 3
	/usr/bin/python3 bench/run_bench.py $(BUILD)-bench/isotope $(LIBRARY_TABLE) bench/data/params.txt bench/data/out --repeat 3
	$(BUILD)-bench/bench/isotope_bench --benchmark_min_time=0.2
	PYTHONPATH=$(BUILD)/python /usr/bin/python3 bench/bench_python.py $(BUILD)-bench/isotope $(BENCH_TABLE) bench/data/params.txt bench/data/out --repeat 3
	@test -f $(RUN_MZML) -a -f $(RUN_TABLE) || $(BUILD)-bench/bench/make_run $(RUN_MZML) $(RUN_TABLE) --seed 2029
	/usr/bin/python3 bench/run_spectra_bench.py $(BUILD)-bench/isotope $(BUILD)-bench/bench/openms_load $(RUN_MZML) $(RUN_TABLE) bench/data/out --repeat 3

# A 1 GB table (about 14,000,000 rows) streams through in bounded memory.
LARGE_TABLE ?= bench/data/glyco_1GB.txt
bench-large: bootstrap
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DISOTOPE_BENCH=ON -DISOTOPE_PYTHON=OFF -DISOTOPE_TESTS=OFF
	cmake --build $(BUILD)-bench -j$(JOBS) --target isotope
	@mkdir -p bench/data bench/data/out
	@test -f $(LARGE_TABLE) || /usr/bin/python3 bench/make_table.py $(LARGE_TABLE) --rows 14000000 --seed 2027
	@printf 'isotope_peaks_num = 5\n' > bench/data/params.txt
	/usr/bin/python3 bench/run_bench.py $(BUILD)-bench/isotope $(LARGE_TABLE) bench/data/params.txt bench/data/out --repeat 1 --threads 0

# libFuzzer targets for every reader (clang with AddressSanitizer and
# UndefinedBehaviorSanitizer, in their own build folder), each run for
# FUZZ_SECONDS in turn; fails when any finds a crash, a leak or a time-out.
# Corpora grow in $(FUZZ_BUILD)/fuzz-corpus (see fuzz/README.md).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: bootstrap
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DISOTOPE_FUZZ=ON -DISOTOPE_PYTHON=OFF -DISOTOPE_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_all
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-bench $(OUT) bench/data
