# make run   - install what is missing, build, play the bundled sample game
# make test  - install what is missing, build (with sanitizers), run every test
# make bench - build optimised (in build-bench/) and run the benchmarks

BUILD      ?= build
TEST_BUILD ?= build-test
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc)
GAME       ?= $(BUILD)/games/sample/sample.nbf

.PHONY: all deps build run test bench clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DNB_BUILD_TESTS=OFF -DNB_BUILD_BENCH=OFF >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/nbplayer $(GAME) $(ARGS)

$(TEST_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNB_SANITIZE=ON -DNB_BUILD_BENCH=OFF >/dev/null

test: deps $(TEST_BUILD)/CMakeCache.txt
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

$(BENCH_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DNB_BUILD_TESTS=OFF -DNB_BUILD_BENCH=ON >/dev/null

bench: deps $(BENCH_BUILD)/CMakeCache.txt
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD)
