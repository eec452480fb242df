# make run   - install what is missing, build, play the bundled sample game
# make test  - install what is missing, build (with sanitizers), run every test
# make bench - build optimised and run the benchmarks

BUILD      ?= build
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc)
GAME       ?= $(BUILD)/games/sample/sample.nbf

.PHONY: all deps build run test bench clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DNB_BUILD_TESTS=OFF >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/nbplayer $(GAME) $(ARGS)

$(TEST_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNB_SANITIZE=ON -DNB_BUILD_BENCH=OFF >/dev/null

test: deps $(TEST_BUILD)/CMakeCache.txt
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
