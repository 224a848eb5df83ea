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

install: all
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

format:
	clang-format -i src/*.h src/*.cpp tests/*.cpp bench/*.cpp

clean:
	rm -rf $(BUILD)
