# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all setup build test demo clean

all: build

setup:
	@bash scripts/setup

build: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2

demo: build
	@./$(BUILD)/odd-fwupdate-sim examples/no-drive.json; echo "(exit code $$?)"

clean:
	rm -rf $(BUILD)
