# Thin wrapper over CMake; everything is built in build/.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all configure run test bench fuzz install format clean

all: configure
	cmake --build $(BUILD) --parallel

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

run: all
	./$(BUILD)/quib

test: all
	cd $(BUILD) && ctest --output-on-failure

bench: configure
	cmake --build $(BUILD) --parallel --target quib_bench
	./$(BUILD)/bench/quib_bench

# The key decoder's fuzz target, built with clang in its own directory and
# run for FUZZ_TIME seconds; new inputs go to $(FUZZ_BUILD)/corpus, findings
# to $(FUZZ_BUILD)/artifacts. FUZZ_ARGS passes more libFuzzer options.
FUZZ_BUILD ?= build-fuzz
FUZZ_CXX ?= clang++
FUZZ_TIME ?= 120
FUZZ_ARGS ?=

fuzz:
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) $(FUZZ_CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) --parallel
	mkdir -p $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/artifacts
	./$(FUZZ_BUILD)/fuzz_keys -max_total_time=$(FUZZ_TIME) -max_len=64 \
	  -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/ \
	  $(FUZZ_ARGS) $(FUZZ_BUILD)/corpus fuzz/corpus

install: all
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

format:
	clang-format -i src/*.h src/*.cpp tests/*.cpp bench/*.cpp bench/*.h \
	  fuzz/*.cpp

clean:
	rm -rf $(BUILD)
