#!/usr/bin/env bash
# The same firmware image pushed in 32 KiB blocks into the same emulated drive
# through libsgio-emu, once by odd-fwupdate (its transfer through the Linux
# host) and once by sg_write_buffer --bpw=32768, alternating, RUNS of each
# in every round. The shim times every image block at the SG_IO seam.
# Both clients meet the same shim and the same drive, so what differs between
# them is the client's own work between two blocks.
#
# Per round and client, each the lowest over the client's runs in the round
# (a run that a busy machine slowed down tells nothing of the client):
#   span       first block's SG_IO to the last one's return (the transfer time)
#   block      median time inside a block's SG_IO plus median gap between two
#              blocks: the transfer time of a typical block, which a busy
#              machine's preemptions and the drive's occasional slow block
#              do not move
#   overhead   median gap between two blocks: the client's own work per block
#
# The summary gives each ratio as its median over the rounds, with the lowest
# and highest round beside it.
#
#   bench/sgio_transfer.sh [--build DIR] [--rounds N] [--runs RUNS] [--size SIZE]
#
# RUNS is 1 by default (make bench takes 3); SIZE as make-image takes it (8M
# by default). The drive starts in its update firmware so odd-fwupdate goes
# straight to the transfer. odd-fwupdate's console goes to /dev/null. Exits
# non-zero when a transfer did not deliver the whole image; the goals are
# reported, not enforced.
set -euo pipefail

build=build
rounds=5
runs=1
size=8M
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--rounds N] [--runs RUNS] [--size SIZE]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
for needed in "$build/odd-fwupdate" "$build/libsgio-emu.so" "$build/make-image"; do
  [[ -e $needed ]] || { echo "$0: $needed is missing (build first)" >&2; exit 2; }
done
command -v sg_write_buffer >/dev/null || { echo "$0: sg_write_buffer is missing (sg3-utils)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sgio-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/make-image" --out "$work/A0013431.128" --size "$size" --version 1.28 >/dev/null
image_bytes=$(stat -c %s "$work/A0013431.128")
blocks=$(( (image_bytes + 32767) / 32768 ))
cat >"$work/drive.json" <<'EOF'
{ "drives": [ { "letter": "E", "starts_in_update_mode": true } ] }
EOF

value() { awk -v key="$2" '$1 == key { print $2 }' "$1"; }

# Runs one client into a fresh drive; prints "span_ns service_median_ns gap_median_ns".
run_client() {
  local who=$1 report=$work/$1.$2
  mkdir -p "$report"
  if [[ $who == ours ]]; then
    (cd "$work" && printf 'y\n' | LD_PRELOAD="$build/libsgio-emu.so" ODD_SGIO_SCENARIO="$work/drive.json" \
       ODD_SGIO_REPORT="$report" "$build/odd-fwupdate" >/dev/null 2>"$work/err") || true
    cmp -s "$report/E.image" "$work/A0013431.128" ||
      { echo "$0: odd-fwupdate did not leave the whole image in the drive" >&2; exit 1; }
  else
    LD_PRELOAD="$build/libsgio-emu.so" ODD_SGIO_SCENARIO="$work/drive.json" ODD_SGIO_REPORT="$report" \
      sg_write_buffer --mode=7 --id=0xf0 --bpw=32768 --in="$work/A0013431.128" /dev/sr1
    [[ $(value "$report/E.state" received_bytes) == "$image_bytes" ]] ||
      { echo "$0: sg_write_buffer did not deliver the whole image" >&2; exit 1; }
  fi
  [[ $(value "$report/E.state" image_blocks) == "$blocks" ]] ||
    { echo "$0: $who sent $(value "$report/E.state" image_blocks) blocks, not $blocks" >&2; exit 1; }
  echo "$(value "$report/E.state" image_span_ns) $(value "$report/E.state" image_service_median_ns)" \
       "$(value "$report/E.state" image_gap_median_ns)"
  rm -rf "$report"
}

# The lowest of a client's runs, each figure on its own: "span_ns block_ns gap_ns service_ns".
lowest() {
  awk '{ b = $2 + $3
         if (NR == 1 || $1 < s) s = $1; if (NR == 1 || b < k) k = b
         if (NR == 1 || $3 < g) g = $3; if (NR == 1 || $2 < v) v = $2 }
       END { print s, k, g, v }' "$1"
}

printf '%d bytes in %d blocks of 32768, %d rounds, the fastest of %d runs per client in each\n' \
  "$image_bytes" "$blocks" "$rounds" "$runs"
printf '%-5s | %9s %9s %6s | %9s %9s %6s | %9s %9s\n' round "ours ms" "peer ms" ratio "ours us" "peer us" ratio \
  "ours us" "peer us"
printf '%-5s | %-26s | %-26s | %s\n' "" "span of the transfer" "typical block" "overhead per block"
results=$work/results
: >"$results"
for ((r = 1; r <= rounds; r++)); do
  : >"$work/ours.runs"
  : >"$work/peer.runs"
  for ((k = 1; k <= runs; k++)); do
    if (((r + k) % 2)); then first=peer second=ours; else first=ours second=peer; fi
    run_client "$first" "$r.$k" >>"$work/$first.runs"
    run_client "$second" "$r.$k" >>"$work/$second.runs"
  done
  echo "$r $(lowest "$work/ours.runs") $(lowest "$work/peer.runs")" | awk '{
    r = $1; os = $2; ob = $3 / 1000; og = $4 / 1000; osv = $5 / 1000
    ps = $6; pb = $7 / 1000; pg = $8 / 1000; psv = $9 / 1000
    printf "%-5d | %9.3f %9.3f %6.3f | %9.2f %9.2f %6.3f | %9.2f %9.2f\n",
           r, os / 1e6, ps / 1e6, os / ps, ob, pb, ob / pb, og, pg
    printf "%f %f %f %f %f %f\n", os / ps, ob / pb, og, pg, osv, psv >> "'"$results"'"
  }'
done

# Column N of the rounds as "median lowest highest".
over_rounds() {
  cut -d' ' -f"$1" "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print ((NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[1], v[NR] }'
}
read -r block_ratio block_low block_high < <(over_rounds 2)
read -r span_ratio span_low span_high < <(over_rounds 1)
read -r ours _ < <(over_rounds 3)
read -r peer _ < <(over_rounds 4)
read -r ours_inside _ < <(over_rounds 5)
read -r peer_inside _ < <(over_rounds 6)
awk -v br="$block_ratio" -v bl="$block_low" -v bh="$block_high" -v sr="$span_ratio" -v sl="$span_low" \
    -v sh="$span_high" -v ours="$ours" -v peer="$peer" -v oi="$ours_inside" -v pi="$peer_inside" 'BEGIN {
  printf "ratio odd-fwupdate / sg_write_buffer, median of rounds (lowest..highest round):\n"
  printf "  typical block %.3f (%.3f..%.3f; goal <= 1.0: %s)\n", br, bl, bh, br <= 1.0 ? "met" : "missed"
  printf "  whole span    %.3f (%.3f..%.3f)\n", sr, sl, sh
  printf "overhead per block: odd-fwupdate %.2f us (goal < 20 us: %s), sg_write_buffer %.2f us (median of rounds)\n",
         ours, ours < 20 ? "met" : "missed", peer
  printf "time inside SG_IO per block (the emulated drive, median of rounds): %.2f us and %.2f us\n", oi, pi
}'
