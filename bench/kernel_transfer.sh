#!/usr/bin/env bash
# make bench-kernel: the image transfer of odd-fwupdate against
# sg_write_buffer's through a real kernel, on both kernel generations and both
# paths to the drive (tcm_loop and USB), timed at the drive's end in one
# guest per row, the two clients taking turns (tests/kernel/kernel_cases.sh,
# cases bench_tcm_loop and usb_bench). The emulated drive answers at once, so
# what differs between the clients is their own work between two blocks and
# the kernel's on their behalf; TCG makes absolute times meaningless, the
# ratios are what to read.
#
#   bench/kernel_transfer.sh [--build DIR] [--pairs N]
set -uo pipefail
build=build
pairs=10
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --pairs) pairs=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--pairs N]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
printf '%-7s %-9s %s\n' kernel path "result (ours/peer: median interval between two blocks, per pair)"
status=0
for generation in 6.1 6.12; do
  for path in tcm_loop usb; do
    case_name=bench_tcm_loop
    [[ $path == usb ]] && case_name=usb_bench
    line=$(BENCH_PAIRS=$pairs bash "$source/tests/kernel/kernel_cases.sh" "$build" "$source" "$case_name" "$generation" 2>&1 |
           grep -E '^bench:|^FAIL')
    [[ $line == bench:* ]] || status=1
    printf '%-7s %-9s %s\n' "$generation" "$path" "${line#bench: }"
  done
done
exit $status
