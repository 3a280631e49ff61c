# Convenience wrapper around CMake.
#   make demo   build the program and mesh the shipped example job
#   make test   build and run every test
#   make test-sanitize   the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   make bench  build and run the benchmark jobs
JOBS ?= 2
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
DEMO_JOB ?= examples/mesh_quality_area.json

.PHONY: build demo test test-sanitize bench clean

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/quilm_mesher_cli $(DEMO_JOB) demo.s3d

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILM_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	bench/run --binary $(BUILD)/quilm_mesher_cli

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
