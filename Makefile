# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
WINDOWS_BUILD = $(BUILD)/windows

.PHONY: all setup build native windows test demo clean

all: build

setup:
	@bash scripts/setup

build: setup native windows

native:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DODD_WINDOWS_DIR=$(CURDIR)/$(WINDOWS_BUILD) >/dev/null
	@cmake --build $(BUILD)

# odd-fwupdate.exe (32-bit, one static file) and the emulated ASPI manager.
windows: setup
	@cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	    -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WINDOWS_BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2

demo: build
	@./$(BUILD)/odd-fwupdate-sim examples/one-drive.json; echo "(exit code $$?)"

clean:
	rm -rf $(BUILD)
