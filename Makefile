# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
WINDOWS_BUILD = $(BUILD)/windows
SANITIZE_BUILD = $(BUILD)/sanitize

.PHONY: all setup build native windows sanitize test demo bench clean

all: build

setup:
	@bash scripts/setup

build: setup native windows

native:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DODD_WINDOWS_DIR=$(CURDIR)/$(WINDOWS_BUILD) >/dev/null
	@cmake --build $(BUILD)

# odd-fwupdate.exe (32-bit, one static file) and the emulated ASPI manager;
# in x86_64/ the 64-bit build that tests the pass-through route under Wine.
windows: setup
	@cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	    -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WINDOWS_BUILD)
	@cmake -S . -B $(WINDOWS_BUILD)/x86_64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WINDOWS_BUILD)/x86_64

# The native tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: setup
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DODD_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD)

test: build sanitize
	@ctest --test-dir $(BUILD) --output-on-failure -j2
	@ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j2

demo: build
	@./$(BUILD)/odd-fwupdate-sim examples/one-drive.json; echo "(exit code $$?)"

# The transfer through the Linux host against sg_write_buffer, 8 MiB in 32 KiB
# blocks into an emulated drive, and the CPU cost of the updater's own work.
bench: setup native
	@bash bench/sgio_transfer.sh --build $(BUILD) --rounds 7
	@if [ -x $(BUILD)/update_benchmark ]; then ./$(BUILD)/update_benchmark; fi

clean:
	rm -rf $(BUILD)
