#!/usr/bin/env bash
# The shipped static Linux file against emulated drives behind a real Linux
# kernel: a QEMU guest (software emulation) boots one of Debian 12's two
# kernel generations (6.1 or 6.12, the fourth argument), whose SCSI
# target serves each drive of the case's scenario through TCM-User
# (tools/tcmu-drive) and tcm_loop, so that sr, sg, the block layer and the
# kernel's own commands stand between the program and the drive. The case
# runs in the guest as a technician runs it; its console, standard error, exit
# code and each drive's journal and report come back through a 9p share of the
# case's own folder. Expectations are the shim twins' where there is one, and
# on every run of the updater the journal shows that between the switch into
# update firmware and the leave command the drive heard nothing but the
# updater's own commands. A case named usb_... serves its drive on USB
# instead (tools/usb-drive behind a FunctionFS gadget on dummy_hcd), so that
# usb-storage stands between sr and the drive.
#
#   kernel_cases.sh BUILD_DIR SOURCE_DIR CASE [6.1 | 6.12]
#   kernel_cases.sh --group BUILD_DIR SOURCE_DIR 6.1|6.12 CASE...
#   kernel_cases.sh --list
#
# A guest boots in about as long as most cases take to run, so make test boots
# one for many: --group runs the cases named in one guest, one after another
# (guest_init: each in its own folder, with its own drives, trace and results,
# the guest made fresh again between two), and leaves each case's folder in
# BUILD_DIR/kernel/results/GENERATION/CASE. A case run later finds its folder
# there and judges it as it judges its own guest's; without one (a case asked
# for alone, a folder older than the programs, a case the group's guest could
# not run on a fresh guest) it boots its own guest. A folder is judged once:
# the case takes it away.
#
# Exit 0 passed, 1 failed.
set -uo pipefail

# --list: the cases of this file, one a line, for CMake to register (the
# timings of make bench-kernel, bench_tcm_loop and usb_bench, are no tests).
if [[ ${1:-} == --list ]]; then
  sed -n 's/^\([a-z][a-z0-9_ |]*\))$/\1/p' "$0" | tr -d ' ' | tr '|' '\n' | grep -v bench
  exit 0
fi

group=()
if [[ ${1:-} == --group ]]; then
  build=$2 source=$3 generation=$4 case_name=group
  group=("${@:5}")
  ((${#group[@]})) || { echo "FAIL (group): no case named"; exit 1; }
else
  build=$1
  source=$2
  case_name=$3
  # The kernel generation: 6.1 (Debian 12's default) or 6.12, each in its folder of the cache.
  generation=${4:-6.1}
fi
# A case's part when --group runs it: prepare (its folder made for the group's
# guest, in ODD_KERNEL_FOLDER) or, by default, the whole case.
part=${ODD_KERNEL_PART:-whole}
results=$build/kernel/results/$generation
kernel_cache=${ODD_KERNEL_CACHE_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/odd-fwupdate}/kernel
[[ $generation == 6.1 ]] || kernel_cache+=-$generation
work=$(mktemp -d "${TMPDIR:-/tmp}/odd-kernel-case.XXXXXX")
trap '[[ -n ${ODD_KEEP_CASE:-} ]] || rm -rf "$work"' EXIT
folder=$work/case
[[ $part == prepare ]] && folder=$ODD_KERNEL_FOLDER
mkdir -p "$folder"
chmod 755 "$work" "$folder"  # an ordinary user in the guest runs the program from it
export LC_ALL=C LANG=C

fail() { echo "FAIL ($case_name): $*"; exit 1; }

# --- the guest --------------------------------------------------------------

[[ -e $kernel_cache/ready ]] || fail "no kernel in $kernel_cache (scripts/setup fetches it)"
version=$(cat "$kernel_cache/ready")
kernel=$kernel_cache/vmlinux
initramfs=$build/kernel/initramfs-$version.gz
mkdir -p "$build/kernel"
# Cases run side by side: one unpacks the kernel and builds the initramfs, the others wait for it.
(
  flock 9
  # The uncompressed kernel boots in half the time under software emulation.
  if [[ ! -s $kernel ]]; then
    packed=$kernel_cache/unpacked/boot/vmlinuz-$version
    # 6.1 packs the kernel as an XZ stream, 6.12 as a zstd frame: the first
    # place either magic opens one that unpacks.
    for at in $(grep -aboP '\xfd7zXZ\x00|\x28\xb5\x2f\xfd' "$packed" | cut -d: -f1); do
      tail -c +$((at + 1)) "$packed" | { xz -dc 2>/dev/null || true; } >"$kernel.part"
      [[ -s $kernel.part ]] || tail -c +$((at + 1)) "$packed" | { zstd -dcq 2>/dev/null || true; } >"$kernel.part"
      [[ -s $kernel.part ]] && break
    done
    [[ -s $kernel.part ]] || { echo "no XZ or zstd stream in $packed"; exit 1; }
    mv "$kernel.part" "$kernel"
  fi
  if [[ ! -s $initramfs || $source/tests/kernel/guest_init -nt $initramfs ||
        $source/tests/kernel/build_initramfs.sh -nt $initramfs ]]; then
    bash "$source/tests/kernel/build_initramfs.sh" "$kernel_cache/unpacked" "$initramfs"
  fi
) 9>"$build/kernel/.lock" || fail "the kernel or the initramfs could not be made ready"

# boot: runs case.sh in the guest; its serial console in $work/serial.log.
# Preparing for a group, the case's folder is ready here; judging the folder
# a group's guest left, the guest has run it.
boot() {
  if [[ $part == prepare ]]; then
    cp -l "$ODD_KERNEL_PROGRAMS"/* "$folder/" || fail "the programs could not be put in the case's folder"
    exit 0
  fi
  if [[ $judged == yes ]]; then
    echo "$(cat "$folder/ended") in the guest of kernel.$generation.group.$(transport "$case_name")"
    code=$(cat "$folder/code" 2>/dev/null)
    return
  fi
  cp "$build/linux/odd-fwupdate" "$build/tcmu-drive" "$build/usb-drive" "$source/tests/kernel/guest_lib.sh" "$folder/"
  local started=$SECONDS
  timeout 240 qemu-system-x86_64 -accel tcg -smp 1 -m 512 -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=4 panic=-1" -nographic -no-reboot -nic none \
    -virtfs "local,path=$folder,mount_tag=case,security_model=none,multidevs=remap" >"$work/serial.log" 2>&1
  echo "guest ran $((SECONDS - started)) s: $(grep -o 'up after [0-9.]* s' "$work/serial.log")"
  grep -q 'guest: case ended' "$work/serial.log" || { tail -n 20 "$work/serial.log"; fail "the guest did not run the case"; }
  code=$(cat "$folder/code" 2>/dev/null)
}

# --- what the case brings back ------------------------------------------------

expect_code() { [[ $code == "$1" ]] || { cat "$folder/guest.log" "$folder/err"; fail "exit code $code, expected $1"; }; }
expect_in() { grep -qF -- "$(printf '%b' "$2")" "$1" || { cat "$1"; fail "$(basename "$1") lacks: $2"; }; }
expect_not_in() { ! grep -qF -- "$(printf '%b' "$2")" "$1" || { cat "$1"; fail "$(basename "$1") has: $2"; }; }
state() { awk -v key="$1" '$1 == key { print $2 }' "$folder/report/${2:-D}.state"; }
expect_state() {
  [[ $(state "$1" "${3:-D}") == "$2" ]] || { cat "$folder/report/${3:-D}.state"; fail "drive ${3:-D} $1 is '$(state "$1" "${3:-D}")', expected '$2'"; }
}
count_commands() { grep -c "^$1" "$folder/report/${2:-D}.commands"; }

# Between the switch into update firmware and the leave command, or, when the
# updater stops without one, until it gives the drive back (its media polling,
# its descriptor, its exit), the drive hears the updater's INQUIRY and image
# blocks and nothing else. Judged on the kernel's own trace (guest_init), one
# buffer on the guest's one processor, so strictly in order: every command the
# kernel dispatches to the drive in the window must be the first one inside an
# SG_IO call of the run that opened the window.
expect_quiet_update_window() {
  local letter intruders
  for letter in "$@"; do
    intruders=$(awk -v lun=$(( $(printf '%d' "'$letter") - 68 )) '
      function ends_window() { inside = 0; owner = "" }
      { pid = $1; sub(/.*-/, "", pid) }
      /sys_ioctl\(fd: / { fd = $0; sub(/.*fd: /, "", fd); sub(/,.*/, "", fd); call[pid] = fd; first[pid] = 1; next }
      /sys_ioctl -> / { delete call[pid]; next }
      inside && pid == owner && /disk_events_workfn|sched_process_exit/ { ends_window(); next }
      inside && pid == owner && /sys_close\(fd: / { fd = $0; sub(/.*fd: /, "", fd); sub(/\).*/, "", fd)
                                                   if (fd == drive_fd) ends_window(); next }
      /scsi_dispatch_cmd_start: .* lun=/ {
        if ($0 !~ " lun=" lun " ") next
        cdb = toupper($0); sub(/.*RAW=/, "", cdb); sub(/\).*/, "", cdb)
        by = ""
        if ((pid in call) && first[pid]) by = pid
        else for (p in call) if (first[p] && by == "") by = p
        if (by != "") first[by] = 0
        if (!inside) {
          if (by != "" && cdb ~ /^3B 04 FF|^3B 07 F0/) { inside = 1; owner = by; drive_fd = call[by] }
          next
        }
        if (by == owner && cdb ~ /^3B 05 FF/) { ends_window(); next }
        if (by != owner || (cdb !~ /^12 00 00 00 60 00/ && cdb !~ /^3B 07 F0/))
          print cdb (by == "" ? " | kernel" : " | run " by)
      }' "$folder/trace")
    [[ -z $intruders ]] || fail "drive $letter heard in its update window: $intruders"
  done
}

# The console the simulator prints for the same scenario: the updater's bytes do not depend on the host.
expect_same_console_as_simulator() {
  "$build/odd-fwupdate-sim" "$folder/scenario.json" >"$work/sim_out" 2>/dev/null
  cmp -s "$folder/out" "$work/sim_out" || {
    diff <(tr '\r' '~' <"$folder/out") <(tr '\r' '~' <"$work/sim_out") | head; fail "console differs from the simulator's"
  }
}

# scenario DRIVES ANSWERS: the scenario (its images for the simulator; the
# guest gets the image made here), drives at D: (/dev/sr0), E: (/dev/sr1), ...
scenario() {
  [[ $judged == no ]] || return 0
  cat >"$folder/scenario.json" <<EOF
{ "images": [ { "path": "A0013431.128", "size": 2097152, "version": "1.28 ", "date": "08/07/25" } ],
  "drives": [ $1 ], "answers": [ $2 ] }
EOF
  "$build/make-image" --out "$folder/A0013431.128" --size 2M --version 1.28 --date 08/07/25 >/dev/null || fail "make-image"
  # A release folder: the checksum file beside the image.
  (cd "$folder" && sha256sum A0013431.128 >A0013431.128.sha256) || fail "sha256sum"
}
# guest_case: case.sh from standard input, after the drives of the scenario are attached.
# A case named usb_... has its drives on USB (two at most: dummy_hcd has two UDCs).
attach=add_drive
[[ $case_name == usb_* ]] && attach=add_usb_drive
guest_case() {
  local drives
  [[ $judged == no ]] || return 0
  drives=$(grep -o '"letter"' "$folder/scenario.json" | wc -l)
  { echo '. ./guest_lib.sh'
    for ((i = 0; i < drives; i++)); do echo "$attach $i"; done
    echo "attached $drives || exit 1"
    cat; } >"$folder/case.sh"
}

# transport CASE: the bus a case's drives are on, which names its group.
transport() { [[ $1 == usb_* ]] && echo usb || echo tcm_loop; }

# The programs and scripts a folder of a group's guest must be newer than to be judged.
inputs=("$build/linux/odd-fwupdate" "$build/tcmu-drive" "$build/usb-drive" "$build/odd-fwupdate-sim" "$build/make-image"
        "$0" "$source/tests/kernel/guest_lib.sh" "$source/tests/kernel/guest_init" "$initramfs")

# --group: every case named prepared in a folder of one share, one guest for
# them all, and each case's folder left in $results for the case to judge.
if ((${#group[@]})); then
  share=$build/kernel/groups/$generation.$(transport "${group[0]}")
  rm -rf "$share"
  mkdir -p "$share/programs" "$results"
  chmod 755 "$share"
  cp "$build/linux/odd-fwupdate" "$build/tcmu-drive" "$build/usb-drive" "$source/tests/kernel/guest_lib.sh" "$share/programs/" ||
    fail "the programs could not be copied"
  for name in "${group[@]}"; do
    rm -rf "${results:?}/$name"
    ODD_KERNEL_PART=prepare ODD_KERNEL_FOLDER=$share/$name ODD_KERNEL_PROGRAMS=$share/programs \
      bash "$0" "$build" "$source" "$name" "$generation" || fail "the case $name could not be prepared"
    echo "$name" >>"$share/group"
  done
  started=$SECONDS
  # Each case has 200 s in the guest (guest_init), and its clearing away a few more.
  timeout $((60 + 220 * ${#group[@]})) qemu-system-x86_64 -accel tcg -smp 1 -m 512 -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=4 panic=-1" -nographic -no-reboot -nic none \
    -virtfs "local,path=$share,mount_tag=case,security_model=none,multidevs=remap" >"$work/serial.log" 2>&1
  echo "guest ran $((SECONDS - started)) s for ${#group[@]} cases: $(grep -o 'up after [0-9.]* s' "$work/serial.log")"
  grep 'guest: ' "$work/serial.log"
  for name in "${group[@]}"; do
    case_folder=$share/$name
    rm -f "$case_folder"/{odd-fwupdate,tcmu-drive,usb-drive,guest_lib.sh}
    if [[ ! -e $case_folder/ended && ! -e $case_folder/not_run ]]; then
      if [[ -e $case_folder/guest.log ]]; then
        { echo "the guest of the group stopped during this case; its console's end:"; tail -n 20 "$work/serial.log"; } \
          >"$case_folder/failed_in_group"
      else
        echo "the guest of the group stopped before this case" >"$case_folder/not_run"
      fi
    fi
    mv "$case_folder" "$results/$name"
  done
  rm -rf "$share"
  grep -q 'guest: group ended' "$work/serial.log" || { tail -n 20 "$work/serial.log"; fail "the guest did not run the whole group"; }
  echo "passed: the group's guest ran ${#group[@]} cases"
  exit 0
fi

# A folder a group's guest left for this case: judged here, once.
judged=no
if [[ $part == whole && -d $results/$case_name ]]; then
  found=$results/$case_name
  stale=
  for input in "${inputs[@]}"; do
    [[ $found -nt $input ]] || stale="$input is newer"
  done
  if [[ -e $found/failed_in_group && -z $stale ]]; then
    cat "$found/failed_in_group"
    rm -rf "$found"
    fail "the case stopped the guest of its group"
  elif [[ -e $found/ended && -z $stale ]]; then
    rmdir "$folder" && mv "$found" "$folder" || fail "the folder of the group's guest could not be taken"
    judged=yes
  else
    echo "the folder of the group's guest is not judged ($([[ -n $stale ]] && echo "$stale" || cat "$found/not_run")): the case boots its own guest"
    rm -rf "$found"
  fi
fi

case "$case_name" in
one_drive_updated)
  # And the kernel's media polling of the drive off during the update, given back after.
  scenario '{ "letter": "D", "revision": "1.23" }' '"yes", "ok"'
  guest_case <<'EOF'
echo 2000 >/sys/block/sr0/events_poll_msecs
(while [ ! -e /case/code ]; do cat /sys/block/sr0/events_poll_msecs; sleep 0.5; done >/case/polling) &
update 'y\n\n'
sleep 0.6
cat /sys/block/sr0/events_poll_msecs >/case/polling_after
EOF
  boot
  expect_code 0
  expect_same_console_as_simulator
  expect_state revision 1.28
  expect_state reflash_count 1
  cmp -s "$folder/report/D.image" "$folder/A0013431.128" || fail "the drive does not hold the image"
  [[ $(count_commands '3B 04 FF') == 1 && $(count_commands '3B 07 F0') == 64 && $(count_commands '3B 05 FF') == 1 ]] ||
    fail "mode 4, 64 blocks and mode 5 expected"
  expect_quiet_update_window D
  grep -qx 0 "$folder/polling" || { cat "$folder/polling"; fail "the kernel's polling was never stopped"; }
  [[ $(cat "$folder/polling_after") == 2000 ]] || fail "polling is $(cat "$folder/polling_after") after the run, expected 2000"
  ;;
usb_one_drive_updated)
  # usb-storage passes at most max_sectors_kb (120) KiB a command: the 32 KiB blocks fit.
  scenario '{ "letter": "D", "revision": "1.23" }' '"yes", "ok"'
  guest_case <<'EOF'
cat /sys/block/sr0/queue/max_sectors_kb >/case/max_sectors_kb
update 'y\n\n'
EOF
  boot
  (( $(cat "$folder/max_sectors_kb") >= 32 )) || fail "usb-storage passes only $(cat "$folder/max_sectors_kb") KiB a command"
  expect_code 0
  expect_same_console_as_simulator
  expect_state revision 1.28
  expect_state reflash_count 1
  cmp -s "$folder/report/D.image" "$folder/A0013431.128" || fail "the drive does not hold the image"
  expect_quiet_update_window D
  ;;
usb_refused_block)
  # Over USB usb-storage fetches the sense of the refused block itself (a
  # REQUEST SENSE the drive answers); the program reads it as from any drive.
  scenario '{ "letter": "D", "revision": "1.23", "refuse_block": 10 }' '"yes", "ok", "no", "ok"'
  guest_case <<<"update 'y\n\nn\n\n'"
  boot
  expect_code 1
  expect_same_console_as_simulator
  expect_state update_mode 1
  [[ $(count_commands '3B 07 F0') == 11 && $(count_commands '3B 05') == 0 ]] || fail "ten blocks, the refused one, no leave"
  [[ $(grep -A1 '^3B 07 F0 .* status 02' "$folder/report/D.commands" | tail -n 1) == '03 00 00 00 12 00 '* ]] ||
    fail "no REQUEST SENSE of usb-storage's after the refused block"
  expect_in "$folder/err" 'odd-fwupdate: /dev/sr0 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_quiet_update_window D
  ;;
usb_check)
  scenario '{ "letter": "D", "revision": "1.23" }' ''
  guest_case <<<"update '' /case/odd-fwupdate --check"
  boot
  expect_code 3
  expect_in "$folder/out" 'D: /dev/sr0\t'
  expect_in "$folder/out" '\tupdate\n'
  [[ $(count_commands '3B') == 0 ]] || fail "a check sent a WRITE BUFFER"
  ;;
bench_tcm_loop | usb_bench)
  # make bench-kernel: the image sent in 32 KiB blocks by odd-fwupdate and by
  # sg_write_buffer in turn (BENCH_PAIRS pairs, 10 by default) into one drive
  # in its update firmware whose own waits are nothing, timed at the drive's
  # end. Prints one line: the pairs' ratios ours/peer of the median interval
  # between two blocks (median, lowest, highest) and the median gap per block
  # of each (from the drive's answer to the next block), in microseconds.
  scenario '{ "letter": "D", "starts_in_update_mode": true, "stay_in_update_mode": true,
              "block_ms": 0, "leave_command_ms": 0, "reflash_ms": 0 }' ''
  "$build/make-image" --out "$folder/A0013431.128" --size 8M --version 1.28 --date 08/07/25 >/dev/null || fail "make-image"
  pairs=${BENCH_PAIRS:-10}
  # Both write only to the guest's memory (the console of ours to /tmp), not to the 9p share.
  guest_case <<EOF
mkdir -p /tmp/run && cp /case/A0013431.128 /tmp/run/
for i in \$(seq $pairs); do
  (cd /tmp/run && printf 'y\\nn\\n\\n\\n\\n' | /case/odd-fwupdate >/tmp/out 2>/tmp/err)
  cp /case/report/D.state /case/ours.\$i
  # The drive's restart after our leave command leaves a unit attention that
  # sg_write_buffer does not retry: its second try starts the transfer again.
  sg_write_buffer --mode=7 --id=0xf0 --bpw=32768 --in=/tmp/run/A0013431.128 /dev/sr0 2>/dev/null ||
    sg_write_buffer --mode=7 --id=0xf0 --bpw=32768 --in=/tmp/run/A0013431.128 /dev/sr0 || echo "peer failed" >>/case/err
  cp /case/report/D.state /case/peer.\$i
done
EOF
  boot
  for ((i = 1; i <= pairs; i++)); do
    for who in ours peer; do
      [[ $(awk '$1 == "image_blocks" { print $2 }' "$folder/$who.$i") == 256 ]] || fail "$who sent not 256 blocks in pair $i"
    done
  done
  awk -v pairs="$pairs" -v folder="$folder" '
    function field(file, key,   line, parts) {
      while ((getline line < file) > 0) { split(line, parts, " "); if (parts[1] == key) { close(file); return parts[2] } }
      close(file); return 0
    }
    function sort(a, n,   i, j, t) { for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t } }
    BEGIN {
      for (i = 1; i <= pairs; i++) {
        ours = field(folder "/ours." i, "image_interval_median_ns"); peer = field(folder "/peer." i, "image_interval_median_ns")
        ratio[i] = ours / peer
        gap_ours[i] = field(folder "/ours." i, "image_gap_median_ns"); gap_peer[i] = field(folder "/peer." i, "image_gap_median_ns")
      }
      sort(ratio, pairs); sort(gap_ours, pairs); sort(gap_peer, pairs)
      m = int((pairs + 1) / 2)
      printf "bench: %d pairs  ours/peer per block %.3f (%.3f..%.3f)  gap per block ours %.0f us, peer %.0f us\n",
             pairs, ratio[m], ratio[1], ratio[pairs], gap_ours[m] / 1000, gap_peer[m] / 1000
    }'
  ;;
two_drives)
  scenario '{ "letter": "D", "revision": "1.23" }, { "letter": "E", "revision": "1.23" }' '"yes", "ok"'
  guest_case <<<"update 'y\n\n'"
  boot
  expect_code 0
  expect_same_console_as_simulator
  expect_state revision 1.28 D
  expect_state revision 1.28 E
  expect_quiet_update_window D E
  ;;
refused_block)
  scenario '{ "letter": "D", "revision": "1.23", "refuse_block": 10 }' '"yes", "ok", "no", "ok"'
  guest_case <<<"update 'y\n\nn\n\n'"
  boot
  expect_code 1
  expect_same_console_as_simulator
  expect_state update_mode 1
  expect_state reflash_count 0
  [[ $(count_commands '3B 07 F0') == 11 && $(count_commands '3B 05') == 0 ]] || fail "ten blocks, the refused one, no leave"
  expect_in "$folder/err" 'odd-fwupdate: /dev/sr0 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_quiet_update_window D
  ;;
never_answered_block | usb_never_answered_block)
  # The fifth image block is never answered: the kernel aborts it at the
  # program's time-out (tcmu-drive then lets it go; over USB the host resets
  # the device), and the run ends as the simulator says, the drive named as
  # left in its update firmware.
  scenario '{ "letter": "D", "revision": "1.23", "faults": [ { "cdb": "3B 07 F0 02 00", "command": 1, "kind": "timeout" } ] }' \
    '"yes", "ok", "no", "ok"'
  guest_case <<<"update 'y\n\nn\n\n' /case/odd-fwupdate --log /case/runs.log"
  boot
  expect_code 1
  expect_same_console_as_simulator
  expect_state update_mode 1
  # The record says how the kernel gave up on the block: its time-out.
  expect_in "$folder/runs.log" '"system_error":"SG_IO host status 0x03, driver status 0x00"}'
  [[ $attach == add_usb_drive || ($(count_commands '3B 07 F0') == 5 && $(count_commands '3B 05') == 0) ]] ||
    fail "five blocks, the last unanswered, no leave"
  expect_in "$folder/err" 'odd-fwupdate: /dev/sr0 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  ;;
never_answered_leave)
  scenario '{ "letter": "D", "revision": "1.23", "faults": [ { "cdb": "3B 05 FF", "command": 1, "kind": "timeout" } ] }' \
    '"yes", "no", "ok"'
  guest_case <<<"update 'y\nn\n\n'"
  boot
  expect_code 1
  expect_same_console_as_simulator
  [[ $(count_commands '3B 07 F0') == 64 && $(count_commands '3B 05') == 1 ]] || fail "the whole image, one leave command"
  expect_in "$folder/err" 'odd-fwupdate: /dev/sr0 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  ;;
never_answered_inquiry_after_restart)
  # The first INQUIRY after the restart is lost; the next one finds the new firmware.
  scenario '{ "letter": "D", "revision": "1.23", "faults": [ { "cdb": "12 00 00 00 60", "command": 6, "kind": "timeout" } ] }' \
    '"yes", "ok"'
  guest_case <<<"update 'y\n\n'"
  boot
  expect_code 0
  expect_same_console_as_simulator
  expect_state revision 1.28
  expect_state reflash_count 1
  ;;
disc_in_drive)
  scenario '{ "letter": "D", "revision": "1.23", "disc_present": true }' '"ok"'
  guest_case <<<"update '\n'"
  boot
  expect_code 0
  expect_same_console_as_simulator
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached a drive holding a disc"
  ;;
missing_capability)
  # An ordinary user with write access to the drive, without CAP_SYS_RAWIO.
  scenario '{ "letter": "D", "revision": "1.23" }' ''
  guest_case <<'EOF'
chmod 666 /dev/sr0 /dev/sg0
chmod 777 /tmp
update 'y\n\n' su nobody -s /bin/sh -c /case/odd-fwupdate
EOF
  boot
  expect_code 1
  expect_in "$folder/err" 'odd-fwupdate: /dev/sr0 cannot be updated without the CAP_SYS_RAWIO capability'
  [[ $(head -c 13 "$folder/err") == 'odd-fwupdate:' ]] || fail "the refusal is not the first line"
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached the drive"
  ;;
check_without_capability)
  # A check sends only INQUIRY and READ BUFFER, which the kernel passes to
  # anyone who may open the drive: an ordinary user with read access checks
  # it; one without is told what is missing.
  scenario '{ "letter": "D", "revision": "1.23" }' ''
  guest_case <<'EOF'
chmod 644 /dev/sr0
chmod 777 /tmp
update '' su nobody -s /bin/sh -c '/case/odd-fwupdate --check'
for file in out err code; do mv /case/$file /case/$file.readable; done
chmod 600 /dev/sr0
update '' su nobody -s /bin/sh -c '/case/odd-fwupdate --check'
EOF
  boot
  [[ $(cat "$folder/code.readable") == 3 ]] || { cat "$folder/err.readable"; fail "exit code $(cat "$folder/code.readable") with read access, expected 3"; }
  expect_in "$folder/out.readable" '\tupdate\n'
  [[ ! -s $folder/err.readable ]] || { cat "$folder/err.readable"; fail "a check with read access told something"; }
  expect_in "$folder/err" 'odd-fwupdate: access to /dev/sr0 was refused: run as root, or with read access to /dev/sr0\n'
  expect_not_in "$folder/err" 'CAP_SYS_RAWIO'
  expect_not_in "$folder/err" "no drive"
  expect_code 1
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached the drive"
  ;;
signal_during_transfer | usb_signal_during_transfer)
  # SIGTERM while the image goes over: held, the drive finished and its
  # result kept; with no drive left the run ends as without the signal.
  scenario '{ "letter": "D", "revision": "1.23" }' ''
  guest_case <<'EOF'
start_update 'y\n' 50
kill -TERM $program
wait $program
echo $? >/case/code
EOF
  boot
  expect_code 0
  expect_in "$folder/err" 'odd-fwupdate: the update of /dev/sr0 cannot be interrupted; the program stops when it is done\n'
  expect_in "$folder/out" 'Success to update the firmware.'
  expect_state revision 1.28
  expect_quiet_update_window D
  ;;
unplugged_and_back | usb_unplugged_and_back)
  # The drive pulled off its bus halfway through the image and plugged in
  # again at once, while the run still holds its old device: the run ends
  # without hanging, naming the drive as left in its update firmware and as
  # detached; the drive comes back under the name the kernel gives it (6.1
  # keeps sr0 for the run's old descriptor and names it sr1, 6.12 frees sr0
  # at the removal over tcm_loop), where the next run finds it in its update
  # firmware and completes its update.
  scenario '{ "letter": "D", "revision": "1.23" }' ''
  guest_case <<'EOF'
start_update 'y\n\n\n' 50
unplug_drive 0
plug_drive 0
wait $program
echo $? >/case/code
for file in out err code; do mv /case/$file /case/$file.first; done
i=0
while [ "$(ls /dev/sr* 2>/dev/null | wc -l)" != 1 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
ls /dev/sr* >/case/node
update 'y\n\n'
EOF
  boot
  [[ $(cat "$folder/code.first") == 1 ]] || { cat "$folder/err.first"; fail "the run the drive left ended with $(cat "$folder/code.first"), expected 1"; }
  expect_in "$folder/err.first" 'odd-fwupdate: /dev/sr0 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_in "$folder/err.first" 'odd-fwupdate: /dev/sr0 was detached during the run; if it is attached again, it may have another /dev/sr name\n'
  expect_code 0
  node=$(cat "$folder/node")
  expect_in "$folder/err" "odd-fwupdate: device No.1: $(printf '\\x%x' $((68 + ${node#/dev/sr}))): = $node\\n"
  expect_in "$folder/out" 'Success to update the firmware.'
  expect_state revision 1.28
  expect_state reflash_count 1
  cmp -s "$folder/report/D.image" "$folder/A0013431.128" || fail "the drive does not hold the image"
  ;;
swapped_mid_transfer | swapped_after_the_leave | usb_swapped_after_the_leave)
  # D is pulled halfway through its image, or as it restarts after the leave
  # command, and another drive of the model (E, already at 1.28, kept off its
  # bus until then) is plugged in two seconds later and may get D's free
  # name: the run never judges E's answers as D's, sends E nothing, and names
  # D as left in its update firmware.
  scenario '{ "letter": "D", "revision": "1.23" }, { "letter": "E", "revision": "1.28" }' ''
  moment="grep -q 'Processing 50%' /case/out"
  [[ $case_name == *swapped_after_the_leave ]] && moment="grep -q 're-flashing' /case/out"
  guest_case <<EOF
unplug_drive 1
start_update 'y\n\n\n' 0
while ! $moment; do sleep 0.05; done
unplug_drive 0
sleep 2
plug_drive 1
wait \$program
echo \$? >/case/code
i=0
while ! ls /sys/block/sr* >/dev/null 2>&1 && [ \$i -lt 100 ]; do sleep 0.1; i=\$((i + 1)); done
for node in /sys/block/sr*; do basename \$(readlink -f \$node/device); done >/case/e_address
EOF
  boot
  expect_code 1
  expect_not_in "$folder/out" 'Success to update'
  expect_in "$folder/err" 'odd-fwupdate: /dev/sr0 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_state revision 1.28 E
  IFS=: read -r host channel id lun <"$folder/e_address"
  [[ -n $lun ]] || fail "drive E never came"
  if [[ $case_name == usb_* ]]; then
    # E may take D's freed SCSI host and address: its journal tells instead,
    # where the run's own commands are the only ones the kernel never sends
    # over USB (INQUIRY of 96 bytes, READ and WRITE BUFFER).
    ! grep -q '^12 00 00 00 60\|^3B\|^3C' "$folder/report/E.commands" || fail "the run reached drive E"
  else
    ! grep -q "odd-fwupdate-[0-9]* .*scsi_dispatch_cmd_start: host_no=$host channel=$channel id=$id lun=$lun " \
      "$folder/trace" || fail "the run reached drive E"
  fi
  ;;
record_and_replay | usb_record_and_replay)
  # A machine's record (--record) made through the kernel replays in the
  # simulator as that machine: its check line for line and its unattended
  # update byte for byte, for a drive of this model and one in its update firmware.
  scenario '{ "letter": "D", "revision": "1.23" }, { "letter": "E", "starts_in_update_mode": true }' ''
  guest_case <<'EOF'
update '' /case/odd-fwupdate --record /case/machine.json
cp /case/out /case/record_out
cp /case/code /case/record_code
update '' /case/odd-fwupdate --check
cp /case/out /case/check_out
cp /case/code /case/check_code
update '' /case/odd-fwupdate --yes
EOF
  boot
  expect_code 0
  [[ -s $folder/machine.json ]] || fail "no record of the machine was written"
  # 7: a drive is in its update firmware.
  [[ $(cat "$folder/record_code") == 7 && $(cat "$folder/check_code") == 7 ]] || fail "the record or the check did not end with 7"
  cmp -s "$folder/record_out" "$folder/check_out" || fail "the record's lines differ from the check's"
  "$build/odd-fwupdate-sim" "$folder/machine.json" --check >"$work/sim_out" 2>/dev/null
  [[ $? == 7 ]] || fail "the replayed check did not end with 7"
  cmp -s "$folder/check_out" "$work/sim_out" || { diff "$folder/check_out" "$work/sim_out"; fail "the replayed check differs"; }
  "$build/odd-fwupdate-sim" "$folder/machine.json" --yes >"$work/sim_out" 2>/dev/null
  [[ $? == 0 ]] || fail "the replayed update did not end with 0"
  cmp -s "$folder/out" "$work/sim_out" || {
    diff <(tr '\r' '~' <"$folder/out") <(tr '\r' '~' <"$work/sim_out") | head; fail "the replayed update differs"
  }
  ;;
killed_then_completed)
  # SIGKILL while the image goes over leaves the drive in its update
  # firmware; the next run finds it so and completes its update.
  scenario '{ "letter": "D", "revision": "1.23" }' ''
  guest_case <<'EOF'
start_update 'y\n' 50
kill -KILL $program
wait $program
echo $? >/case/killed
update 'y\n\n'
EOF
  boot
  [[ $(cat "$folder/killed") == 137 ]] || fail "the first run was not killed"
  expect_code 0
  expect_in "$folder/out" 'Success to update the firmware.'
  expect_state revision 1.28
  expect_state update_mode 0
  expect_state reflash_count 1
  expect_quiet_update_window D
  ;;
killed_during_reflash_then_yes)
  # SIGKILL once the drive re-flashes itself, and --yes at once: the drive,
  # not ready while it re-flashes, is told so (5, unreadable, not ready), or
  # is found done (0); never "nothing here" (4).
  scenario '{ "letter": "D", "revision": "1.23", "reflash_ms": 15000 }' ''
  guest_case <<'EOF'
start_update 'y\n' 100
while ! grep -q 're-flashing' /case/out; do sleep 0.05; done
sleep 1
kill -KILL $program
wait $program
update '' /case/odd-fwupdate --yes --log /case/runs.log
EOF
  boot
  code=$(cat "$folder/code")
  case $code in
    5) expect_in "$folder/runs.log" '"result":"unreadable","reason":"not-ready"' ;;
    0) expect_state revision 1.28 ;;
    *) cat "$folder/err" "$folder/runs.log"; fail "exit code $code after a killed re-flash, expected 5 or 0" ;;
  esac
  ;;
two_runs_at_once)
  # A second run while the first updates the drive sends it nothing, not
  # even an open, and says why; the first updates it undisturbed.
  scenario '{ "letter": "D", "revision": "1.23" }' '"yes", "ok"'
  guest_case <<'EOF'
start_update 'y\n\n' 10
printf 'y\n\n' | sh -c 'echo $$ >/case/second_pid; exec /case/odd-fwupdate' >/case/second_out 2>/case/second_err
echo $? >/case/second_code
wait $program
echo $? >/case/code
EOF
  boot
  expect_code 0
  [[ $(cat "$folder/second_code") == 1 ]] || { cat "$folder/second_err"; fail "the second run's exit code is $(cat "$folder/second_code"), expected 1"; }
  expect_in "$folder/second_err" 'odd-fwupdate: another run is updating drives on this machine; run odd-fwupdate again when it has ended\n'
  expect_state revision 1.28
  [[ $(count_commands '3B 04 FF') == 1 && $(count_commands '3B 07 F0') == 64 && $(count_commands '3B 05 FF') == 1 ]] ||
    fail "mode 4, 64 blocks and mode 5 expected"
  second=$(cat "$folder/second_pid")
  ! grep -q "odd-fwupdate-$second .*\(sys_ioctl(\|scsi_dispatch\)" "$folder/trace" || fail "the second run reached the drive"
  expect_quiet_update_window D
  ;;
two_runs_without_the_run_folder | check_of_a_user_during_an_update)
  # No run can make the machine's file (/run read-only), or the second run,
  # an ordinary user's check, cannot open root's (made under umask 077): the
  # drive's own claim keeps the second run from the drive, before its open
  # reaches it.
  scenario '{ "letter": "D", "revision": "1.23" }' '"yes", "ok"'
  if [[ $case_name == two_runs_without_the_run_folder ]]; then
    setup='mount -t tmpfs -o ro tmpfs /run' as='sh -c' second='--yes'
  else
    setup='umask 077' as='su nobody -s /bin/sh -c' second='--check'
  fi
  guest_case <<EOF
$setup
start_update 'y\\n\\n' 10
umask 022
chmod 755 /tmp/run && chmod 644 /dev/sr0 /tmp/run/A0013431.128
$as 'echo \$\$ >/tmp/second_pid; exec /case/odd-fwupdate $second' </dev/null >/case/second_out 2>/case/second_err
echo \$? >/case/second_code
cp /tmp/second_pid /case/second_pid
wait \$program
echo \$? >/case/code
EOF
  boot
  expect_code 0
  [[ $(cat "$folder/second_code") == 5 ]] || { cat "$folder/second_err"; fail "the second run's exit code is $(cat "$folder/second_code"), expected 5"; }
  expect_in "$folder/second_err" 'odd-fwupdate: /dev/sr0 could not be read (in-use); it may be a drive to update: run odd-fwupdate again later\n'
  expect_state revision 1.28
  [[ $(count_commands '3B 07 F0') == 64 ]] || fail "64 blocks expected"
  second=$(cat "$folder/second_pid")
  ! grep -q "odd-fwupdate-$second .*\(sys_ioctl(\|scsi_dispatch\)" "$folder/trace" || fail "the second run reached the drive"
  expect_quiet_update_window D
  ;;
sg_write_buffer)
  # sg3-utils as the peer: the same drive updated by hand through the same kernel.
  scenario '{ "letter": "D", "revision": "1.23", "leave_command_ms": 0, "reflash_ms": 0 }' ''
  { printf 'QUARLEN  KWR-322\xc8\x91\x3a\x5e'; head -c 236 /dev/zero; } >"$folder/mode.bin"
  guest_case <<'EOF'
sg_write_buffer --mode=4 --id=0xff --in=/case/mode.bin /dev/sr0 && \
  sg_write_buffer --mode=7 --id=0xf0 --bpw=32768 --in=/case/A0013431.128 /dev/sr0 && \
  sg_write_buffer --mode=5 --id=0xff --in=/case/mode.bin /dev/sr0
echo $? >/case/code
sg_inq /dev/sr0 >/case/out 2>&1
EOF
  boot
  expect_code 0
  expect_in "$folder/out" 'Product revision level: 1.28'
  expect_state reflash_count 1
  cmp -s "$folder/report/D.image" "$folder/A0013431.128" || fail "the drive does not hold the image"
  ;;
*)
  fail "no such case"
  ;;
esac
echo "passed: $case_name"
