# Convenience targets. Each one installs what it needs (scripts/bootstrap),
# configures and builds, so that they work on a fresh Debian 12 machine.

BUILD    ?= build
JOBS     ?= 2
CMAKE_FLAGS ?=
OUT      ?= demo-out

.PHONY: all bootstrap build demo test bench clean

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

# Every test: unit and end-to-end tests of the core and the command line,
# and the Python module's tests.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD) $(OUT)
