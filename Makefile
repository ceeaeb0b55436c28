# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
WINDOWS_BUILD = $(BUILD)/windows
SANITIZE_BUILD = $(BUILD)/sanitize

.PHONY: all setup build native windows sanitize test kernel-test bench-kernel demo bench fuzz fuzz-smoke fuzz-build clean screenshots

all: build

setup:
	@bash scripts/setup

build: setup native windows

native:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DODD_TESTS=ON -DODD_WINDOWS_DIR=$(CURDIR)/$(WINDOWS_BUILD) >/dev/null
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

# The slow kernel case (a leave command never answered, 3.5 minutes) runs in make kernel-test.
test: build sanitize
	@ctest --test-dir $(BUILD) --output-on-failure -j2 -LE slow
	@ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j2
	@$(MAKE) --no-print-directory fuzz-smoke

# The kernel cases alone: the shipped static file in QEMU guests whose own
# kernel serves emulated drives (also part of make test); KERNEL_REPEAT=20
# runs each case that many times in a row, stopping at the first failure
# (each in a guest of its own then, the groups' guests left out).
KERNEL_REPEAT ?= 1
kernel-test: setup native
	@ctest --test-dir $(BUILD) -L kernel --output-on-failure -j2 --repeat until-fail:$(KERNEL_REPEAT) \
	    $(if $(filter-out 1,$(KERNEL_REPEAT)),-E '^kernel\.[0-9.]+\.group\.')

# The image transfer against sg_write_buffer's through a real kernel: both
# kernel generations, tcm_loop and USB, BENCH_PAIRS turns each (not part of make test).
BENCH_PAIRS ?= 10
bench-kernel: setup native
	@bash bench/kernel_transfer.sh --build $(BUILD) --pairs $(BENCH_PAIRS)

# Only the simulator: a build folder is configured without the tests when the
# demo is the first to use it, and a later make test adds them.
demo:
	@bash scripts/setup demo
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DODD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) --target odd-fwupdate-sim
	@./$(BUILD)/odd-fwupdate-sim examples/one-drive.json; echo "(exit code $$?)"

# The pictures of docs/guide.md, from real runs of the Windows utility under
# Wine on a virtual display (not part of make test).
screenshots: build
	@bash scripts/setup screenshots
	@bash scripts/screenshots $(BUILD)

# The transfer through the Linux host against sg_write_buffer, 8 MiB in 32 KiB
# blocks into an emulated drive, and the CPU cost of the updater's own work.
bench: setup native
	@bash bench/sgio_transfer.sh --build $(BUILD) --rounds 7 --runs 3
	@if [ -x $(BUILD)/update_benchmark ]; then ./$(BUILD)/update_benchmark; fi

# libFuzzer runs of the image loader, the drive's answers and the scenario
# reader: `make fuzz` for FUZZ_SECONDS each, a few seconds each in make test.
FUZZ_BUILD ?= $(BUILD)/fuzz
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 5
FUZZ_TARGETS = fuzz_image_loader fuzz_drive_answers fuzz_scenario_reader

fuzz-build: setup
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DODD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) --target $(FUZZ_TARGETS)

fuzz: fuzz-build
	@$(MAKE) --no-print-directory -j2 $(addprefix fuzz-run-,$(FUZZ_TARGETS)) FUZZ_TIME=$(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	@$(MAKE) --no-print-directory -j2 $(addprefix fuzz-run-,$(FUZZ_TARGETS)) FUZZ_TIME=$(FUZZ_SMOKE_SECONDS)

fuzz-run-%:
	@mkdir -p $(FUZZ_BUILD)/corpus/$* $(FUZZ_BUILD)/findings
	@if $(FUZZ_BUILD)/tests/fuzz/$* -max_total_time=$(FUZZ_TIME) -print_final_stats=1 \
	    $(if $(wildcard tests/fuzz/$*.dict),-dict=tests/fuzz/$*.dict) -artifact_prefix=$(FUZZ_BUILD)/findings/$*- \
	    $(FUZZ_BUILD)/corpus/$* tests/fuzz/corpus/$* >$(FUZZ_BUILD)/$*.log 2>&1; then \
	  echo "$*: $$(sed -n 's/^stat::number_of_executed_units: *//p' $(FUZZ_BUILD)/$*.log) runs in $(FUZZ_TIME) s, nothing found"; \
	else \
	  tail -n 30 $(FUZZ_BUILD)/$*.log; echo "$*: finding in $(FUZZ_BUILD)/findings (log: $(FUZZ_BUILD)/$*.log)"; exit 1; \
	fi

clean:
	rm -rf $(BUILD)
