#!/usr/bin/env bash
# Whole runs through libsgio-emu: the real odd-fwupdate updating emulated
# drives (answers typed on standard input or on a pseudo-terminal, signals sent
# while it works), and sg3-utils talking to the same emulated drive as
# independent peers; and the shipped static file in an empty root. Each case
# checks the console, the exit code and what the drive holds afterwards (the
# shim's report), against values written here.
#
#   shim_cases.sh BUILD_DIR SOURCE_DIR CASE
#   shim_cases.sh --list
#
# Exit 0 passed, 1 failed, 77 skipped (with the reason on standard output).
set -uo pipefail

# --list: the cases of this file, one a line, for CMake to register.
if [[ ${1:-} == --list ]]; then
  sed -n 's/^\([a-z][a-z0-9_]*\))$/\1/p' "$0"
  exit 0
fi

build=$1
source=$2
case_name=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/odd-linux-case.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/report"
# The drives' media polling lives in a sysfs of the case's own, and the claim on the machine in a run folder of its own.
export LC_ALL=C LANG=C ASAN_OPTIONS=verify_asan_link_order=0 ODD_SYSFS_ROOT=$work/sys ODD_RUN_ROOT=$work/run
mkdir -p "$work/run"
shim=$build/libsgio-emu.so
image=$work/A0013431.128
banner=$'\n/// ODD Firmware Update Utility Ver2.57C\n'
arguments=()
version_line=$'odd-fwupdate (ODD Firmware Update Utility Ver2.57C)\n'
no_target=$'\r\nAvailable target is not found.'
# "\r\nこのﾌﾟﾛｸﾞﾗﾑで利用可能なﾄﾞﾗｲﾌﾞがありません。" (message 28) in UTF-8.
no_target_ja_utf8=$'\r\n\xe3\x81\x93\xe3\x81\xae\xef\xbe\x8c\xef\xbe\x9f\xef\xbe\x9b\xef\xbd\xb8\xef\xbe\x9e\xef\xbe\x97\xef\xbe\x91\xe3\x81\xa7\xe5\x88\xa9\xe7\x94\xa8\xe5\x8f\xaf\xe8\x83\xbd\xe3\x81\xaa\xef\xbe\x84\xef\xbe\x9e\xef\xbe\x97\xef\xbd\xb2\xef\xbe\x8c\xef\xbe\x9e\xe3\x81\x8c\xe3\x81\x82\xe3\x82\x8a\xe3\x81\xbe\xe3\x81\x9b\xe3\x82\x93\xe3\x80\x82'

fail() { echo "FAIL ($case_name): $*"; exit 1; }

expect_code() { [[ $code == "$1" ]] || fail "exit code $code, expected $1"; }
# expect_in FILE TEXT: TEXT (printf escapes allowed) occurs in FILE.
expect_in() { grep -qF -- "$(printf '%b' "$2")" "$1" || { cat "$1"; fail "$(basename "$1") lacks: $2"; }; }
expect_not_in() { ! grep -qF -- "$(printf '%b' "$2")" "$1" || { cat "$1"; fail "$(basename "$1") has: $2"; }; }
# expect_bytes FILE EXPECTED: the whole file is exactly these bytes.
expect_bytes() {
  printf '%s' "$2" >"$work/expected"
  cmp -s "$1" "$work/expected" || {
    echo "--- got"; od -c "$1" | head -20; echo "--- expected"; od -c "$work/expected" | head -20
    fail "$(basename "$1") differs"
  }
}
# state KEY [LETTER]: a value of the drive's report (E: unless told).
state() { awk -v key="$1" '$1 == key { print $2 }' "$work/report/${2:-E}.state"; }
expect_state() {
  [[ $(state "$1" "${3:-E}") == "$2" ]] || { cat "$work/report/${3:-E}.state"; fail "drive ${3:-E} $1 is '$(state "$1" "${3:-E}")', expected '$2'"; }
}
count_commands() { grep -c "^$1" "$work/report/E.commands"; }

scenario() { cat >"$work/scenario.json"; }
# polling N [VALUE]: sets, or prints, the kernel's media polling interval of /dev/srN.
polling() {
  local file=$work/sys/class/block/sr$1/events_poll_msecs
  if (($# > 1)); then mkdir -p "${file%/*}" && echo "$2" >"$file"; else cat "$file"; fi
}
expect_polling() { [[ $(polling "$1") == "$2" ]] || fail "/dev/sr$1 polls every '$(polling "$1")' ms, expected '$2'"; }
# make_image: the image, and beside it its checksum file as a release folder holds it.
make_image() {
  "$build/make-image" --out "$image" --size 2M --version 1.28 --date 08/07/25 >/dev/null || fail "make-image"
  (cd "${image%/*}" && sha256sum "${image##*/}" >"${image##*/}.sha256") || fail "sha256sum"
}

# run_updater TYPED [VAR=VALUE ...]: odd-fwupdate (or $program) "${arguments[@]}" in the image's folder with TYPED on
# stdin (ended after 60 s).
run_updater() {
  local typed=$1
  shift
  printf '%b' "$typed" >"$work/typed"
  (cd "$work" &&
    timeout 60 env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" ODD_SGIO_REPORT="$work/report" "$@" \
      "${program:-$build/odd-fwupdate}" "${arguments[@]}" <"$work/typed" >"$work/out" 2>"$work/err")
  code=$?
}

# on_terminal STEP...: odd-fwupdate under a pseudo-terminal, typed on as a person
# types: a STEP of keys is typed once the terminal shows its next prompt,
# "wait:TEXT" waits until TEXT shows, "ahead:KEYS" types at once. All the
# terminal showed in $work/tty; $terminal_env (VAR=VALUE ...) is the program's.
on_terminal() {
  rm -f "$work/keys" "$work/tty"
  mkfifo "$work/keys"
  (cd "$work" && exec timeout 60 script -qfec \
    "env LD_PRELOAD='$shim' ODD_SGIO_SCENARIO='$work/scenario.json' ODD_SGIO_REPORT='$work/report' ${terminal_env:-} '$build/odd-fwupdate'" \
    /dev/null <"$work/keys" >"$work/tty") &
  local runner=$! prompts=0 step
  exec 4>"$work/keys"
  for step in "$@"; do
    case $step in
    wait:*) wait_for "$work/tty" "${step#wait:}" ;;
    ahead:*) printf '%b' "${step#ahead:}" >&4 ;;
    *)
      prompts=$((prompts + 1))
      for _ in $(seq 300); do
        (($(grep -oE '\[y/n\] |\[press Enter\] |\(n\)\] |'$'\xe3\x81\x84''\] ' "$work/tty" 2>/dev/null | wc -l) >= prompts)) && break
        sleep 0.1
      done
      printf '%b' "$step" >&4
      ;;
    esac
  done
  wait "$runner"
  code=$?
  exec 4>&-
}

# start_updater [VAR=VALUE ...]: odd-fwupdate in the background, reading its
# answers from the pipe $work/answers (write them with answer TEXT); its pid in $pid.
start_updater() {
  mkfifo "$work/answers"
  (cd "$work" && exec env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" ODD_SGIO_REPORT="$work/report" \
    ${state_folder:+ODD_SGIO_STATE="$state_folder"} "$@" "$build/odd-fwupdate" "${arguments[@]}" <"$work/answers" >"$work/out" 2>"$work/err") &
  pid=$!
  exec 3>"$work/answers"
}
answer() { printf '%b' "$1" >&3; }
# wait_for FILE TEXT: until TEXT (printf escapes allowed) shows in FILE, 30 s at most.
wait_for() {
  for _ in $(seq 300); do grep -qF -- "$(printf '%b' "$2")" "$1" 2>/dev/null && return; sleep 0.1; done
  cat "$1"; fail "$(basename "$1") never showed: $2"
}
finish_updater() { exec 3>&-; wait "$pid"; code=$?; }

# The simulator's console for the same scenario: the updater's bytes must not depend on the host.
expect_same_console_as_simulator() {
  local options=() argument
  for argument in "${arguments[@]}"; do [[ $argument == --yes || $argument == --check ]] && options+=("$argument"); done
  "$build/odd-fwupdate-sim" "$work/scenario.json" "${options[@]}" >"$work/sim_out" 2>/dev/null
  cmp -s "$work/out" "$work/sim_out" || {
    diff <(tr '\r' '~' <"$work/out") <(tr '\r' '~' <"$work/sim_out") | head; fail "console differs from the simulator's"
  }
}

# peer TOOL ARGS...: an sg3-utils tool through the shim; output in $work/out.
peer() {
  env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" ODD_SGIO_REPORT="$work/report" \
    ${state_folder:+ODD_SGIO_STATE="$state_folder"} "$@" >"$work/out" 2>&1
  code=$?
}

# swapped_under_its_name AFTER: the drive goes away after its AFTER-th command
# (40: while its image goes over; 75: as it restarts after the leave command)
# and its name comes back leading to a drive at another address: nothing more
# is sent under the name, the drive is never judged from the other's answers,
# and it is named as left in its update firmware.
swapped_under_its_name() {
  local after=$1
  one_drive_scenario ", \"reattach_after_command\": $after, \"reattach_as_another\": true" ''
  arguments=(--log "$work/runs.log")
  run_updater 'y\n\n'
  expect_code 1
  expect_not_in "$work/out" 'Success to update'
  expect_in "$work/err" 'odd-fwupdate: /dev/sr1 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_in "$work/err" 'odd-fwupdate: /dev/sr1 was detached during the run, and the device now under its name cannot be proven to be the same drive: nothing more was sent to it\n'
  expect_in "$work/runs.log" '"result":"left-in-update-firmware","reason":"detached"'
  [[ $(wc -l <"$work/report/E.commands") == "$after" ]] || fail "$(wc -l <"$work/report/E.commands") commands reached the drive, expected $after"
}

one_drive_scenario() {
  scenario <<EOF
{ "images": [ { "path": "A0013431.128", "size": 2097152, "version": "1.28 ", "date": "08/07/25" } ],
  "drives": [ { "letter": "E", "revision": "1.23", "date": "08/07/25" $1 } ],
  "answers": [ $2 ] }
EOF
  make_image
}

# update_polled_drive FIELDS TEXT: drive E: (with FIELDS), polled every 2000 ms
# and kept across processes, updated in the background with Yes until the
# console shows TEXT; the updater's process in $pid.
update_polled_drive() {
  one_drive_scenario "$1" ''
  state_folder=$work/state
  mkdir -p "$state_folder"
  polling 1 2000
  trap 'kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
  start_updater
  answer 'y\n'
  wait_for "$work/out" "$2"
}

# Drive E: was only listed, as a check reads it (INQUIRY and READ BUFFER).
expect_only_listed() {
  [[ -s $work/report/E.commands ]] && ! grep -qv '^\(12\|3C\) ' "$work/report/E.commands" ||
    { cat "$work/report/E.commands"; fail "more than INQUIRY and READ BUFFER reached the drive"; }
  rm -f "$work/report/E.commands"
}
# And with the image whole again, the same run updates it.
expect_only_listed_then_updated() {
  expect_only_listed
  make_image
  run_updater ''
  expect_code 0
  expect_state revision 1.28
}

# nobody_setup: drive E: to update, with a folder another user (nobody, in ${as_nobody[@]}) may work in.
nobody_setup() {
  [[ $EUID == 0 ]] || { echo "SKIP: another user is needed (run as root)"; exit 77; }
  as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  one_drive_scenario '' ''
  chmod 755 "$work" && chmod 777 "$work/report"
}
# The run updated drive E: with nothing of another run between.
expect_updated_alone() {
  expect_code 0
  expect_state revision 1.28
  [[ $(count_commands '3B 07 F0') == 64 ]] || fail "64 blocks expected"
}

# A mode block: model string, access value little-endian, zeros to 256 bytes.
# This drive's signature (QUA_ADV) takes the access code 0x5E3A91C4 plus 4 both ways.
mode_block() { { printf 'QUARLEN  KWR-322\xc8\x91\x3a\x5e'; head -c 236 /dev/zero; } >"$1"; }

case "$case_name" in
no_drive)
  scenario <<<'{}'
  run_updater ''
  expect_code 1
  expect_bytes "$work/out" "$banner$no_target"
  expect_in "$work/err" 'TORVAL: Available target is not found.\n[press Enter] '
  expect_not_in "$work/err" 'refused'
  ;;
one_drive_updated)
  one_drive_scenario '' '"yes"'
  run_updater 'y\n\n'
  expect_code 0
  expect_in "$work/out" 'Current Revision>> QUARLEN DVD-RW  KWR-322  1.23  08/07/25'
  expect_in "$work/out" '\rProcessing 98%\rProcessing 100% --> Data transfer complete'
  expect_in "$work/out" 'New Revision    >> QUARLEN DVD-RW  KWR-322  1.28  08/07/25'
  expect_in "$work/out" '\nSuccess to update the firmware.\r\nUpdate operation is completed.'
  expect_in "$work/err" 'TORVAL: Do you want to update the F/W\nFrom : QUARLEN DVD-RW  KWR-322  1.23'
  expect_in "$work/err" '[y/n] '
  expect_state revision 1.28
  expect_state reflash_count 1
  expect_state flashed_bytes 2097152
  cmp -s "$work/report/E.image" "$image" || fail "the drive does not hold the image"
  [[ $(count_commands '3B 04 FF') == 1 && $(count_commands '3B 07 F0') == 64 && $(count_commands '3B 05 FF') == 1 ]] ||
    fail "mode 4, 64 blocks and mode 5 expected; got $(grep -c '^3B' "$work/report/E.commands") WRITE BUFFERs"
  expect_same_console_as_simulator
  ;;
question_at_end_of_input)
  one_drive_scenario '' ''
  polling 1 2000
  run_updater ''
  expect_code 0
  expect_polling 1 2000
  expect_in "$work/err" 'Do you want to update the F/W'
  expect_in "$work/err" '[y/n] \n'
  expect_not_in "$work/out" 'Now updating the firmware'
  expect_not_in "$work/out" 'Update operation is completed'
  expect_state revision 1.23
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached the drive"
  ;;
disc_in_drive)
  one_drive_scenario ', "disc_present": true' '"ok"'
  run_updater '\n'
  expect_code 0
  expect_in "$work/out" '\nDisc is inserted into DVD-RW.\nPlease eject a disc.'
  expect_in "$work/err" 'TORVAL: Disc is inserted into DVD-RW.'
  expect_state revision 1.23
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached a drive holding a disc"
  expect_same_console_as_simulator
  ;;
refused_block)
  one_drive_scenario ', "refuse_block": 10' '"yes", "ok", "no", "ok"'
  run_updater 'y\n\nn\n\n'
  expect_code 1
  expect_in "$work/out" '\r\nFailed to update the normal part.'
  expect_in "$work/err" 'Do you retry to update ?\n[y/n] '
  expect_in "$work/out" 'Update program is terminated by occuring an error.'
  expect_state received_bytes $((10 * 32768))
  expect_state reflash_count 0
  expect_state update_mode 1
  expect_state revision 000
  [[ $(count_commands '3B 07 F0') == 11 && $(count_commands '3B 05') == 0 ]] || fail "ten blocks, the refused one, no leave"
  expect_in "$work/err" 'odd-fwupdate: /dev/sr1 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_same_console_as_simulator
  ;;
held_signal_when_a_second_pass_is_due)
  # --yes: SIGTERM held during the first pass, whose leave command the drive
  # refuses, so that it comes back in its update firmware: the held signal
  # waits for the second pass, and the drive ends updated, the run with 0.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23",
    "faults": [ { "cdb": "3B 05 FF", "command": 1, "kind": "check-condition", "key": 5, "asc": 36, "ascq": 0 } ] } ] }'
  make_image
  arguments=(--yes)
  start_updater
  wait_for "$work/out" 'Processing 50'
  kill -TERM "$pid"
  finish_updater
  expect_code 0
  expect_state revision 1.28
  expect_state update_mode 0
  [[ $(count_commands '3B 05 FF') == 2 ]] || fail "two leave commands expected, $(count_commands '3B 05 FF') sent"
  expect_not_in "$work/err" 'still in its update firmware'
  ;;
signal_during_transfer)
  # Two drives, all updated: the signal is held until E: is updated, and F: is never flashed.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23" }, { "letter": "F", "revision": "1.23" } ] }'
  make_image
  state_folder=$work/state
  mkdir -p "$state_folder"
  polling 1 2000
  polling 2 -1
  start_updater
  answer 'y\n'
  wait_for "$work/out" 'Processing 50%'
  expect_polling 1 0
  kill -TERM "$pid"
  finish_updater
  expect_code 143
  expect_polling 1 2000
  expect_polling 2 -1
  [[ $(grep -c 'cannot be interrupted' "$work/err") == 1 ]] || { cat "$work/err"; fail "the held signal must be told once"; }
  expect_in "$work/err" 'odd-fwupdate: the update of /dev/sr1 cannot be interrupted; the program stops when it is done\n'
  expect_in "$work/out" 'Success to update the firmware.'
  expect_not_in "$work/out" 'Start updating the device No.2'
  expect_not_in "$work/err" 'still in its update firmware'
  peer sg_inq /dev/sr1
  peer sg_inq /dev/sr2
  expect_state revision 1.28
  expect_state reflash_count 1
  expect_state update_mode 0 F
  expect_state reflash_count 0 F
  ;;
reader_goes_away)
  # odd-fwupdate | head: the console's reader ends before the transfer, the update does not.
  one_drive_scenario '' ''
  (cd "$work" && printf 'y\n\n' |
    env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" ODD_SGIO_REPORT="$work/report" \
      "$build/odd-fwupdate" 2>"$work/err" | head -c 1 >/dev/null; exit "${PIPESTATUS[1]}")
  code=$?
  expect_code 0
  expect_state revision 1.28
  expect_state reflash_count 1
  ;;
signal_before_the_switch)
  one_drive_scenario '' ''
  state_folder=$work/state
  mkdir -p "$state_folder"
  polling 1 2000
  start_updater
  wait_for "$work/err" 'Do you want to update the F/W'
  expect_polling 1 0
  kill -HUP "$pid"
  finish_updater
  expect_code 129
  expect_polling 1 2000
  expect_not_in "$work/err" 'cannot be interrupted'
  peer sg_inq /dev/sr1
  expect_state update_mode 0
  expect_state received_bytes 0
  expect_state revision 1.23
  ;;
standard_streams_closed)
  # Each closed standard stream is /dev/null: no drive's device takes its place,
  # and a question with no standard error to be shown on is nobody's to answer.
  one_drive_scenario '' ''
  (cd "$work" && env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" ODD_SGIO_REPORT="$work/report" \
    "$build/odd-fwupdate" <&- >&- 2>&-)
  code=$?
  expect_code 1
  (( $(state lowest_descriptor) > 2 )) || fail "the drive's commands came through descriptor $(state lowest_descriptor)"
  expect_state revision 1.23
  ;;
image_not_a_file)
  # A FIFO in the image's place is refused at once, as an image that cannot be read.
  one_drive_scenario '' ''
  rm "$image"
  mkfifo "$image"
  run_updater 'y\n\n'
  expect_code 1
  expect_in "$work/out" '\r\nFailed to load binary file.\r\n(File Name : A0013431.128)'
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached the drive"
  ;;
arguments)
  # Only a run without arguments may touch a drive, though Yes is typed for every one.
  one_drive_scenario '' ''
  # '--log --check': a script's empty $LOG; the option is not the record's name (nor the image's).
  # Linux options keep their case, and the forms of Windows are no options here.
  for arguments in --help -h --version --force x '--help --version' '--log --check' '--log=-x.log --yes' '--image --yes' \
    '-?' --HELP /h /HELP --VERSION; do
    read -ra arguments <<<"$arguments"
    run_updater 'y\ny\n\n'
    [[ ! -e $work/report/E.state ]] || fail "odd-fwupdate ${arguments[*]} sent commands to the drive"
    case "${arguments[*]}" in
    --help | -h)
      expect_code 0
      expect_in "$work/out" 'Usage: odd-fwupdate [--check] [--yes] [--log FILE] [--image PATH]\n'
      expect_in "$work/out" '  --image PATH  reads the image from PATH'
      expect_in "$work/out" 'the image file A0013431.128'
      expect_in "$work/out" 'E: = /dev/sr1'
      expect_in "$work/out" 'CAP_SYS_RAWIO'
      expect_in "$work/out" 'Exit codes: 0'
      ;;
    --version)
      expect_code 0
      expect_bytes "$work/out" "$version_line"
      ;;
    *)
      expect_code 2
      expect_bytes "$work/out" ''
      [[ $(wc -l <"$work/err") == 1 ]] || { cat "$work/err"; fail "a usage error is one line"; }
      expect_in "$work/err" "odd-fwupdate: unexpected argument '${arguments[0]}'"
      ;;
    esac
  done
  ;;
on_a_terminal)
  # The targets named before the first question, a drive's control bytes shown
  # as '?', a declined run said so, and a notice shown once before its prompt.
  scenario <<'EOF'
{ "images": [ { "path": "A0013431.128", "size": 2097152, "version": "1.28 ", "date": "08/07/25" } ],
  "drives": [ { "letter": "E", "revision": "1.23", "date": "\u001b[2K\r\u001b[1A" } ] }
EOF
  make_image
  on_terminal 'n\n'
  expect_code 0
  expect_not_in "$work/tty" '\033'
  expect_in "$work/tty" 'KWR-322  1.23  ?[2K??[1A'
  expect_in "$work/tty" 'From : QUARLEN DVD-RW  KWR-322  1.23  (20?[2K??[1)'
  shown=$(cat "$work/tty")
  [[ ${shown%%Do you want to update*} == *'odd-fwupdate: device No.1: E: = /dev/sr1'* ]] ||
    { cat "$work/tty"; fail "the target is not named before the question"; }
  expect_in "$work/tty" 'odd-fwupdate: no drive was updated: the update was declined'
  scenario <<<'{}'
  on_terminal '\n'
  expect_code 1
  [[ $(grep -c 'Available target is not found.' "$work/tty") == 1 ]] || { cat "$work/tty"; fail "the notice is not shown once"; }
  expect_in "$work/tty" 'Available target is not found.\r\n[press Enter] '
  ;;
notices_on_their_own_lines)
  # Ctrl-C in the update window of a drive that then stays in its update
  # firmware, in Japanese: no retry is offered, the run stops (message 36, one
  # more Enter), and the held signal's notice and the closing line each start
  # a line of their own.
  one_drive_scenario ', "refuse_block": 10' ''
  terminal_env="LC_ALL= LANG=ja_JP.UTF-8"
  on_terminal 'y\n' 'wait:Processing 1' 'ahead:\003' '\n' '\n'
  # "/dev/sr1 の更新は中断できません" and "/dev/sr1 はまだ更新用ファームウェアのままです" in UTF-8.
  for notice in $'/dev/sr1 \xe3\x81\xae\xe6\x9b\xb4\xe6\x96\xb0\xe3\x81\xaf\xe4\xb8\xad\xe6\x96\xad' \
                $'/dev/sr1 \xe3\x81\xaf\xe3\x81\xbe\xe3\x81\xa0\xe6\x9b\xb4\xe6\x96\xb0\xe7\x94\xa8'; do
    [[ $(grep -c "^odd-fwupdate: $notice" "$work/tty") == 1 ]] ||
      { od -c "$work/tty" | tail -20; fail "no line of its own starts with: $notice"; }
  done
  ;;
yes_and_log)
  # Unattended: nothing typed, no prompt, the drive updated, a record of it and of the run.
  one_drive_scenario '' ''
  arguments=(--yes --log "$work/runs.log")
  # The serial number as the kernel holds it: VPD page 0x80 in sysfs, read without a command.
  mkdir -p "$work/sys/class/block/sr1/device"
  printf '\x05\x80\x00\x0c  KWR3220041' >"$work/sys/class/block/sr1/device/vpd_pg80"
  run_updater ''
  expect_code 0
  expect_not_in "$work/err" '[y/n]'
  expect_not_in "$work/err" '[press Enter]'
  expect_state revision 1.28
  expect_same_console_as_simulator
  # The drive as it enters its update window, as it ends, and the run.
  [[ $(wc -l <"$work/runs.log") == 3 ]] || { cat "$work/runs.log"; fail "three lines expected in the log"; }
  expect_in "$work/runs.log" '"result":"updating"'
  expect_in "$work/runs.log" '"device":"E:","device_name":"/dev/sr1","serial":"KWR3220041"'
  expect_in "$work/runs.log" '"before_revision":"1.23","before_date":"08/07/25","after_revision":"1.28"'
  expect_in "$work/runs.log" '"result":"updated"'
  expect_in "$work/runs.log" '"system":"linux","route":"pass-through"'
  expect_in "$work/runs.log" '"check":false,"yes":true,"drives":1,"exit_code":0}'
  # A record that cannot be written is told once and changes nothing (a fresh drive: this process's).
  arguments=(--check --log /proc/nowhere.log)
  run_updater ''
  expect_code 3
  expect_bytes "$work/out" $'E: /dev/sr1\tQUARLEN DVD-RW  KWR-322 \t1.23 08/07/25\t1.28 08/07/25\tupdate\n'
  [[ $(grep -c 'cannot be written' "$work/err") == 1 ]] || { cat "$work/err"; fail "the log's failure must be told once"; }
  # Nor does a FIFO nobody reads hold the run; it is told as a log that cannot be written.
  mkfifo "$work/fifo.log"
  arguments=(--check --log "$work/fifo.log")
  run_updater ''
  expect_code 3
  [[ $(grep -c 'fifo.log cannot be written' "$work/err") == 1 ]] || { cat "$work/err"; fail "the FIFO's failure must be told once"; }
  ;;
typed_ahead)
  # A y typed while drive 1 is flashed answers nothing drive 2 asks later.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23" }, { "letter": "F", "revision": "1.23" } ] }'
  make_image
  on_terminal 'n\n' 'y\n' 'wait:Processing 1' 'ahead:y\n' 'n\n' '\n'
  expect_code 0
  expect_state revision 1.28
  expect_state reflash_count 0 F
  [[ $(grep -c 'Do you want to update the F/W' "$work/tty") == 2 ]] || { cat "$work/tty"; fail "drive 2 was not asked"; }
  ;;
answers_nobody_gave)
  # The image file, /dev/zero, and a question that cannot be shown: no drive is flashed.
  one_drive_scenario '' ''
  for input in "$image" /dev/zero; do
    (cd "$work" && timeout 60 env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" \
      ODD_SGIO_REPORT="$work/report" "$build/odd-fwupdate" <"$input" >"$work/out" 2>"$work/err")
    code=$?
    expect_code 0
    expect_state revision 1.23
  done
  for shown_nowhere in /dev/full /dev/null; do
    (cd "$work" && printf 'y\n\n' | env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" \
      ODD_SGIO_REPORT="$work/report" "$build/odd-fwupdate" >"$work/out" 2>"$shown_nowhere")
    code=$?
    expect_code 1
    expect_state revision 1.23
  done
  [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached the drive"
  ;;
ctrl_z_and_usr1_during_transfer)
  # Neither stops nor ends the update, nor changes its result; with no drive
  # left the run then ends as it would have without them.
  update_polled_drive '' 'Processing 50%'
  kill -TSTP "$pid"
  kill -USR1 "$pid"
  wait_for "$work/out" 'Success to update the firmware.'
  finish_updater
  expect_code 0
  expect_polling 1 2000
  [[ $(grep -c 'cannot be interrupted' "$work/err") == 1 ]] || { cat "$work/err"; fail "the held signals must be told once"; }
  peer sg_inq /dev/sr1
  expect_state revision 1.28
  expect_state reflash_count 1
  ;;
damaged_image_with_checksum)
  # 16 KiB of other bytes written into the middle of an image beside the
  # checksum sha256sum wrote of it: refused before anything is sent that
  # changes a drive, which is only listed.
  one_drive_scenario '' ''
  (cd "$work" && sha256sum A0013431.128 >A0013431.128.sha256)
  head -c 16384 /dev/urandom | dd of="$image" bs=1024 seek=1024 conv=notrunc status=none
  arguments=(--yes)
  run_updater ''
  expect_code 6
  expect_in "$work/err" 'odd-fwupdate: the image file A0013431.128 does not match its checksum file A0013431.128.sha256; no drive was touched\n'
  expect_only_listed_then_updated
  ;;
checksum_file_not_read)
  # A checksum file that is there but cannot be read refuses the image, in the
  # run and in the check alike: one this user may not read, a FIFO (which
  # must not hold the run), a folder, a link to a device. The drive is only listed.
  unshare -U --map-user=1 --map-group=1 true 2>/dev/null || { echo "SKIP: no user namespace (unshare -U --map-user)"; exit 77; }
  one_drive_scenario '' ''
  for kind in no-right fifo folder device; do
    as_user=()
    case $kind in
    no-right) chmod 000 "$image.sha256"; as_user=(unshare -U --map-user=1 --map-group=1) ;;
    fifo) rm -rf "$image.sha256" && mkfifo "$image.sha256" ;;
    folder) rm -rf "$image.sha256" && mkdir "$image.sha256" ;;
    device) rm -rf "$image.sha256" && ln -s /dev/zero "$image.sha256" ;;
    esac
    for arguments in --yes --check; do
      run_updater '' "${as_user[@]}"
      expect_code 6
      expect_in "$work/err" 'odd-fwupdate: the checksum file A0013431.128.sha256 gives no SHA-256 for A0013431.128; no drive was touched\n'
      expect_only_listed
    done
  done
  ;;
checksum_file_forms)
  # The image's line past the first 4096 bytes of a release's list of 81, and
  # the line sha256sum --tag writes: each gives the digest, the drive is updated.
  one_drive_scenario '' ''
  (cd "$work" && for i in $(seq 100 179); do printf '%064d  FILE%d.BIN\n' "$i" "$i"; done && sha256sum A0013431.128) >"$work/list"
  (cd "$work" && sha256sum --tag A0013431.128) >"$work/tagged"
  for form in list tagged; do
    cp "$work/$form" "$image.sha256"
    arguments=(--yes)
    run_updater ''
    expect_code 0
    expect_state revision 1.28
    expect_state reflash_count 1
  done
  ;;
unattended_needs_a_digest)
  # No checksum file, no pinned build, no --sha256: --yes sends no WRITE
  # BUFFER and ends with 6, the check with it, each drive recorded with the
  # image's fault. The digest given on the command line, or a build pinned
  # to its release image, lets the update go through.
  one_drive_scenario '' ''
  rm "$image.sha256"
  for option in --yes --check; do
    arguments=("$option" --log runs.log)
    run_updater ''
    expect_code 6
    expect_in "$work/err" 'odd-fwupdate: A0013431.128 has no checksum file: an unattended run updates a drive only with an image whose SHA-256 it was given; make one beside the image (sha256sum A0013431.128 >A0013431.128.sha256) or give --sha256\n'
    [[ $(count_commands '3B') == 0 ]] || fail "a WRITE BUFFER reached the drive"
    expect_state revision 1.23
    expect_in "$work/runs.log" '"reason":"image-refused"'
    rm "$work/runs.log"
  done
  arguments=(--yes --sha256 "$(sha256sum "$image" | cut -c1-64)")
  run_updater ''
  expect_code 0
  expect_state revision 1.28
  arguments=(--yes)
  program=$build/odd-fwupdate-pinned run_updater ''
  expect_code 0
  expect_state reflash_count 1
  ;;
image_in_another_folder)
  # --image reads the image, and the checksum file beside it (as sha256sum
  # wrote it from elsewhere), from a folder the run is not in; the run's own
  # folder holds no image. A checksum that disagrees, or a log that is that
  # image, is refused before anything changes a drive; a missing one is named by
  # its own file name in message 11.
  one_drive_scenario '' ''
  mkdir "$work/firmware"
  mv "$image" "$work/firmware/KWR322.BIN"
  printf '%064d  KWR322.BIN\n' 0 >"$work/firmware/KWR322.BIN.sha256"
  arguments=(--yes --image firmware/KWR322.BIN --log runs.log)
  run_updater ''
  expect_code 6
  expect_in "$work/err" 'odd-fwupdate: the image file firmware/KWR322.BIN does not match its checksum file firmware/KWR322.BIN.sha256; no drive was touched\n'
  # The drive is still listed, by what a check reads of it, and recorded with the image's fault.
  expect_only_listed
  expect_in "$work/runs.log" '"reason":"image-refused"'
  arguments=(--yes --image firmware/KWR322.BIN --log firmware/./KWR322.BIN)
  run_updater ''
  expect_code 2
  [[ ! -s $work/report/E.commands ]] || fail "a command reached the drive"
  arguments=(--image firmware/MISSING.BIN)
  run_updater '\n'
  expect_code 1
  expect_in "$work/out" 'Failed to load binary file.'
  expect_in "$work/out" '(File Name : MISSING.BIN)'
  (cd "$work" && sha256sum firmware/KWR322.BIN >firmware/KWR322.BIN.sha256)
  arguments=(--yes --image firmware/KWR322.BIN --log runs.log)
  run_updater ''
  expect_code 0
  expect_state revision 1.28
  expect_in "$work/runs.log" '"image":"firmware/KWR322.BIN","image_version":"1.28"'
  ;;
truncated_image_in_a_pinned_build)
  # A build pinned to its release's image refuses the first half of it, and takes it whole.
  one_drive_scenario '' ''
  program=$build/odd-fwupdate-pinned
  head -c 1048576 "$image" >"$work/half" && mv "$work/half" "$image"
  arguments=(--yes)
  run_updater ''
  expect_code 6
  expect_in "$work/err" 'odd-fwupdate: the image file A0013431.128 is not the image this build installs; no drive was touched\n'
  expect_only_listed_then_updated
  ;;
log_that_is_the_image)
  # By its own name, by another path and through a link: refused as a wrong argument, the image unchanged.
  one_drive_scenario '' ''
  cp "$image" "$work/image_before"
  ln -s A0013431.128 "$work/link.log"
  for log in A0013431.128 "$work/./A0013431.128" "$work/link.log"; do
    arguments=(--yes --log "$log")
    run_updater ''
    expect_code 2
    expect_in "$work/err" "odd-fwupdate: the log $log is the image file; name another file for the log\n"
    cmp -s "$image" "$work/image_before" || fail "the image was written to"
  done
  # While another run holds the machine too: the record is judged before the claim.
  (umask 077 && : >"$work/run/odd-fwupdate.lock")
  exec 8<"$work/run/odd-fwupdate.lock"
  flock -x 8
  arguments=(--check --log A0013431.128)
  run_updater ''
  exec 8>&-
  expect_code 2
  cmp -s "$image" "$work/image_before" || fail "the image was written to while the machine was held"
  [[ ! -s $work/report/E.commands ]] || fail "a command reached the drive"
  ;;
polling_given_back_after_a_killed_run)
  # SIGKILL in the update window (the drive re-flashing) leaves the drive's
  # polling stopped; the next run gives back the value the killed one found.
  update_polled_drive ', "leave_command_ms": 0, "reflash_ms": 0' 'Now internal re-flashing'
  # The line is printed just before the leave command: kill once the drive's
  # journal holds it (its CDB follows the record's length byte 0A, a line start).
  for tries in $(seq 300) never; do
    LC_ALL=C grep -qaP '^\x3b\x05\xff\x00{4}\x01\x00\x00' "$state_folder/E.journal" && break; sleep 0.1
  done
  [[ $tries != never ]] || fail "the leave command never reached the drive"
  kill -KILL "$pid"
  finish_updater
  expect_polling 1 0
  rm -f "$work/answers"
  start_updater
  answer '\n'
  finish_updater
  [[ $code == 0 ]] || { cat "$work/out" "$work/err"; fail "exit code $code after the killed run"; }
  expect_in "$work/out" 'FW is already latest.'
  expect_polling 1 2000
  ! grep -qa 2000 "$work/run/odd-fwupdate.lock" || fail "the kept value outlived the run that gave it back"
  ;;
second_run_of_a_user_without_the_machine_file)
  # Two runs that are not root (CAP_SYS_RAWIO alone), where neither can make
  # the machine's file: the drive's own claim keeps the second from the drive.
  nobody_setup
  state_folder=$work/state
  # setpriv, preloaded too, meets the drive's journal first, as root.
  mkdir -p "$state_folder/second" && touch "$state_folder/E.journal" && chmod -R 777 "$state_folder"
  start_updater "${as_nobody[@]}"
  wait_for "$work/out" 'Current Signature'  # at its question
  (cd "$work" && env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" ODD_SGIO_STATE="$state_folder" \
    ODD_SGIO_REPORT="$state_folder/second" "${as_nobody[@]}" "$build/odd-fwupdate" --yes </dev/null >"$work/out2" 2>"$work/err2")
  code=$?
  expect_code 5
  expect_in "$work/err2" 'odd-fwupdate: /dev/sr1 could not be read (in-use); it may be a drive to update: run odd-fwupdate again later\n'
  [[ ! -s $state_folder/second/E.commands ]] || { cat "$state_folder/second/E.commands"; fail "the second run reached the drive"; }
  [[ ! -e $work/run/odd-fwupdate.lock ]] || fail "a run that is not root made the machine's file"
  answer 'y\n\n'
  finish_updater
  expect_updated_alone
  ;;
user_holding_the_machine_file)
  # A user's flock on a machine file others could open (as an older run left
  # it) keeps no root run waiting, and the file is made root's alone.
  nobody_setup
  touch "$work/run/odd-fwupdate.lock" && chmod 644 "$work/run/odd-fwupdate.lock"
  "${as_nobody[@]}" flock -x "$work/run/odd-fwupdate.lock" sleep 60 >/dev/null 2>&1 &
  holder=$!
  trap 'kill "$holder" 2>/dev/null; rm -rf "$work"' EXIT
  until ! flock -xn "$work/run/odd-fwupdate.lock" true; do sleep 0.1; done
  arguments=(--yes)
  run_updater ''
  kill "$holder"
  [[ $(stat -c '%a %u' "$work/run/odd-fwupdate.lock") == '600 0' ]] || fail "the machine's file is $(stat -c '%a %u' "$work/run/odd-fwupdate.lock")"
  ! "${as_nobody[@]}" flock -xn "$work/run/odd-fwupdate.lock" true 2>/dev/null || fail "a user could hold the machine's file"
  expect_updated_alone
  ;;
record_and_replay)
  # A machine's record (--record) replays in the simulator as that machine:
  # its check line for line, and its unattended update byte for byte, for a
  # drive of this model, one found in its update firmware, one of another
  # hardware revision, one whose identity cannot be read and another maker's.
  scenario <<'EOF'
{ "drives": [ { "letter": "E", "revision": "1.23" },
              { "letter": "F", "starts_in_update_mode": true },
              { "letter": "G", "hardware_revision": "ATAPI999" },
              { "letter": "H", "identity_readable": false },
              { "letter": "I", "vendor": "OTHERCO ", "product": "CD-ROM DRIVE 52X", "revision": "1.00" } ] }
EOF
  mkdir -p "$work/sys/class/block/sr1/device"
  printf '\x05\x80\x00\x06E-0001' >"$work/sys/class/block/sr1/device/vpd_pg80"
  make_image
  arguments=(--record "$work/machine.json")
  run_updater ''
  recorded_code=$code
  cp "$work/out" "$work/record_out"
  arguments=(--check)
  run_updater ''
  [[ $recorded_code == "$code" ]] || fail "the record ended $recorded_code, the check $code"
  cmp -s "$work/record_out" "$work/out" || fail "the record's lines differ from the check's"
  expect_not_in "$work/machine.json" "$(hostname)"
  expect_in "$work/machine.json" '"serial": "E-0001"'
  "$build/odd-fwupdate-sim" "$work/machine.json" --check >"$work/sim_out" 2>/dev/null
  [[ $? == "$code" ]] || fail "the replayed check ended otherwise than $code"
  cmp -s "$work/out" "$work/sim_out" || { diff "$work/out" "$work/sim_out"; fail "the replayed check differs"; }
  arguments=(--yes)
  run_updater ''
  "$build/odd-fwupdate-sim" "$work/machine.json" --yes >"$work/sim_out" 2>/dev/null
  [[ $? == "$code" ]] || fail "the replayed update ended otherwise than $code"
  cmp -s "$work/out" "$work/sim_out" || {
    diff <(tr '\r' '~' <"$work/out") <(tr '\r' '~' <"$work/sim_out") | head; fail "the replayed update differs"
  }
  # A record that cannot be written is an error, told, and leaves nothing behind.
  arguments=(--record "$work/no/such/folder/machine.json")
  run_updater ''
  expect_code 1
  expect_in "$work/err" "odd-fwupdate: the record $work/no/such/folder/machine.json could not be written"
  ;;
detached_during_the_update)
  # The drive goes away and comes back in its update window, then stays in its
  # update firmware: named as left, with a word that its name may have changed.
  one_drive_scenario ', "reattach_after_command": 20, "refuse_block": 30' ''
  run_updater 'y\n\nn\n\n'
  expect_code 1
  expect_in "$work/err" 'odd-fwupdate: /dev/sr1 is still in its update firmware; run odd-fwupdate again to complete its update\n'
  expect_in "$work/err" 'odd-fwupdate: /dev/sr1 was detached and attached again during the run; if it is not updated, it may now have another /dev/sr name\n'
  ;;
swapped_during_the_transfer)
  swapped_under_its_name 40
  ;;
swapped_after_the_leave_command)
  swapped_under_its_name 75
  ;;
signal_outside_the_update_with_a_log)
  # SIGTERM while the update question of E: waits: the run ends by the signal,
  # and the record still gets a final line for each drive and the run's line,
  # with that exit code.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23" }, { "letter": "F", "revision": "1.23" } ] }'
  make_image
  arguments=(--log "$work/runs.log")
  trap 'kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
  start_updater
  answer 'n\n'
  wait_for "$work/err" 'Do you want to update the F/W'
  kill -TERM "$pid"
  finish_updater
  expect_code 143
  [[ $(wc -l <"$work/runs.log") == 3 ]] || { cat "$work/runs.log"; fail "three lines expected in the log"; }
  expect_in "$work/runs.log" '"device":"E:","device_name":"/dev/sr1"'
  expect_in "$work/runs.log" '"before_revision":"1.23"'
  expect_in "$work/runs.log" '"result":"interrupted","reason":"interrupted"}\n'
  expect_in "$work/runs.log" '"device":"F:","device_name":"/dev/sr2","serial":"","vendor":"","product":"","image"'
  expect_in "$work/runs.log" '"result":"not-visited","reason":"not-visited"}\n'
  expect_in "$work/runs.log" '"drives":2,"exit_code":143}\n'
  ;;
signal_during_transfer_with_a_log)
  # SIGTERM (a deployment tool's time-out) while E: takes the image: held,
  # E: updated and recorded, F: recorded as not visited, and the run's line
  # has the code the process ends with.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23" }, { "letter": "F", "revision": "1.23" } ] }'
  make_image
  arguments=(--yes --log "$work/runs.log")
  trap 'kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
  start_updater
  wait_for "$work/out" 'Processing 50%'
  kill -TERM "$pid"
  finish_updater
  expect_code 143
  [[ $(wc -l <"$work/runs.log") == 4 ]] || { cat "$work/runs.log"; fail "four lines expected in the log"; }
  expect_in "$work/runs.log" '"device":"E:","device_name":"/dev/sr1"'
  expect_in "$work/runs.log" '"result":"updated"}'
  expect_in "$work/runs.log" '"device":"F:","device_name":"/dev/sr2","serial":"","vendor":"","product":"","image"'
  expect_in "$work/runs.log" '"result":"not-visited","reason":"not-visited"}'
  expect_in "$work/runs.log" '"drives":2,"exit_code":143}\n'
  ;;
full_disk_log)
  # A record cut short on a full disk is left as it is (another machine may
  # have appended after it), and the next record, once there is room, starts
  # on a line of its own: every line but the cut one is a whole record.
  unshare -rm true 2>/dev/null || { echo "SKIP: no mount namespace to make a small disk in (unshare -rm)"; exit 77; }
  one_drive_scenario '' ''
  mkdir -p "$work/disk"
  (cd "$work" && unshare -rm bash -c '
    mount -t tmpfs -o size=8k tmpfs disk || exit 99
    { printf "{\"record\":\"earlier\",\"pad\":\""; head -c 3960 /dev/zero | tr "\0" x; printf "\"}\n"; } >disk/runs.log
    cp disk/runs.log earlier.log
    head -c 4096 /dev/zero >disk/filler
    run() { env LD_PRELOAD="$1" ODD_SGIO_SCENARIO="$PWD/scenario.json" ODD_SGIO_REPORT="$PWD/report" \
              "$2" --check --log disk/runs.log >/dev/null 2>>err; echo $? >>codes; }
    run "$0" "$1"
    cp disk/runs.log after_full.log
    rm disk/filler
    run "$0" "$1"
    cp disk/runs.log runs.log' "$shim" "$build/odd-fwupdate")
  [[ $? != 99 ]] || { echo "SKIP: tmpfs cannot be mounted here"; exit 77; }
  [[ $(cat "$work/codes") == $'3\n3' ]] || fail "exit codes $(cat "$work/codes" | tr '\n' ' '), expected 3 twice"
  expect_in "$work/err" 'odd-fwupdate: the log disk/runs.log cannot be written; the run goes on without it'
  cmp -s -n "$(wc -c <"$work/earlier.log")" "$work/after_full.log" "$work/earlier.log" || fail "the earlier record changed"
  [[ $(wc -l <"$work/runs.log") == 4 ]] || { cat "$work/runs.log"; fail "four lines expected: the earlier, the cut, the drive's and the run's"; }
  ! sed 2d "$work/runs.log" | grep -qv '^{.*}$' || { cat "$work/runs.log"; fail "a line of the log but the cut one is not a whole record"; }
  ;;
guide_shell_loop)
  # The guide's shell loop, its own text, over thirteen machines: ssh is a
  # program first in PATH (so that timeout runs it) that runs the command on
  # the machine's emulated drives, the machine's folder standing for /opt/odd,
  # and ends with 255 as ssh does for a machine that has no folder. Each
  # machine ends with its own code, and its record has one final line for
  # every drive of each run.
  machines=$work/machines
  while read -r machine drives; do
    echo "$machine" >>"$work/machines.txt"
    [[ $machine != unreachable ]] || continue
    mkdir -p "$machines/$machine"/{report,state,run,sys}
    cat >"$machines/$machine/scenario.json" <<EOF
{ "images": [ { "path": "A0013431.128", "size": 2097152, "version": "1.28 ", "date": "08/07/25" } ],
  "drives": [ $drives ] }
EOF
    ln -s "$build/odd-fwupdate" "$machines/$machine/odd-fwupdate"
  done <<'EOF'
up-to-date { "letter": "E", "revision": "1.28" }
to-update { "letter": "E", "revision": "1.23" }
one-current { "letter": "E", "revision": "1.28" }, { "letter": "F", "revision": "1.23" }
other-revision { "letter": "E", "hardware_revision": "REV00002" }
no-drive
stays-in-update { "letter": "E", "refuse_block": 10 }
restarts-old { "letter": "E", "refuse_block": 3, "refused_block_restarts": true }
stuck { "letter": "E", "stay_in_update_mode": true }
disc { "letter": "E", "disc_present": true }
found-in-update { "letter": "E", "starts_in_update_mode": true }
unreachable
unreadable { "letter": "E", "faults": [ { "command": 4, "kind": "check-condition", "key": 4, "asc": 68, "ascq": 0 } ] }
switch-refused { "letter": "E", "sg_io_errno": 1, "sg_io_errno_opcode": 59 }
EOF
  make_image
  for machine in $(cat "$work/machines.txt"); do [[ ! -d $machines/$machine ]] || cp "$image" "$image.sha256" "$machines/$machine/"; done
  mkdir "$work/bin"
  { printf '#!/usr/bin/env bash\nhome=%q/${2#root@}\n' "$machines"
    printf '[[ -d $home ]] || { echo "ssh: connect to host ${2#root@} port 22: No route to host" >&2; exit 255; }\n'
    printf 'exec env LD_PRELOAD=%q ODD_SGIO_SCENARIO="$home/scenario.json" ODD_SGIO_REPORT="$home/report" \\\n' "$shim"
    printf '  ODD_SGIO_STATE="$home/state" ODD_RUN_ROOT="$home/run" ODD_SYSFS_ROOT="$home/sys" bash -c "${3//\\/opt\\/odd/$home}"\n'
  } >"$work/bin/ssh"
  chmod +x "$work/bin/ssh"
  awk '/^Linux \(a shell loop/ { found = 1 } found && /^```sh$/ { inside = 1; next } inside && /^```$/ { exit } inside' \
    "$source/docs/guide.md" >"$work/loop.sh"
  grep -q 'while read -r machine' "$work/loop.sh" || fail "the guide's shell loop was not found"
  (cd "$work" && PATH=$work/bin:$PATH bash loop.sh >"$work/out" 2>"$work/err")
  code=$?
  expect_code 1
  expected='up-to-date: up to date (exit code 0)
to-update: up to date (exit code 0)
one-current: up to date (exit code 0)
other-revision: no drive to update (exit code 4)
no-drive: no drive to update (exit code 4)
stays-in-update: needs a look (exit code 7)
restarts-old: needs a look (exit code 1)
stuck: needs a look (exit code 7)
disc: try again later (exit code 5)
found-in-update: up to date (exit code 0)
unreachable: not reached, try again later (exit code 255)
unreadable: try again later (exit code 5)
switch-refused: needs a look (exit code 1)'
  [[ $(cat "$work/out") == "$expected" ]] || { diff <(echo "$expected") "$work/out"; cat "$work/err"; fail "the loop's lines differ"; }
  # A 7 got one more --yes: the drive found in its update firmware was
  # completed by its first, the stuck one had two before a person was called.
  updates() { grep -c '"record":"run".*"check":false,"yes":true' "$machines/$1/runs.log"; }
  [[ $(updates found-in-update) == 1 && $(updates stuck) == 2 && $(updates to-update) == 1 ]] ||
    fail "updates run: found-in-update $(updates found-in-update), stuck $(updates stuck), to-update $(updates to-update)"
  expect_in "$work/err" 'ssh: connect to host unreachable port 22: No route to host'
  # Each run's record: a final line for every drive it found, the run's line last.
  for machine in $(cat "$work/machines.txt"); do
    [[ $machine != unreachable ]] || continue
    awk -v m="$machine" '
      /"record":"drive"/ && !/"result":"updating"/ { finals[$0 ~ /"run_id":"[^"]*"/ ? substr($0, index($0, "\"run_id\""), 30) : ""]++ }
      /"record":"run"/ { id = substr($0, index($0, "\"run_id\""), 30); d = $0; sub(/.*"drives":/, "", d); sub(/,.*/, "", d)
                         if (finals[id] + 0 != d + 0) { print m ": " finals[id] + 0 " final lines for " d " drives"; bad = 1 } }
      END { exit bad }' "$machines/$machine/runs.log" || fail "a run of $machine lacks a drive's final line"
  done
  ;;
eight_machines)
  # Eight machines as a fleet meets them, each run with --yes and a log: the
  # exit code of each, and every drive's final word and reason. A drive that
  # cannot be reached or read is never "nothing here"; 4 only where no drive
  # of this model is. The table goes to standard output for the record.
  make_image
  machine() {  # NAME EXPECTED-CODE DRIVES...
    local name=$1 expected=$2 home=$work/$1
    shift 2
    mkdir -p "$home/report" "$home/state"
    cp "$image" "$image.sha256" "$home/"
    printf '{ "drives": [ %s ] }\n' "$(IFS=,; echo "$*")" >"$home/scenario.json"
  }
  run_on() {  # NAME [extra environment]: --yes --log on that machine
    local home=$work/$1
    shift
    (cd "$home" && timeout 60 env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$home/scenario.json" \
      ODD_SGIO_REPORT="$home/report" ODD_SGIO_STATE="$home/state" "$@" "$build/odd-fwupdate" --yes --log "$home/runs.log" \
      </dev/null >"$home/out" 2>"$home/err")
  }
  finals() {  # the last run's drive lines: device, word, reason
    awk '/"record":"run"/ { last = lines; lines = "" } /"record":"drive"/ && !/"result":"updating"/ {
           d = $0; sub(/.*"device":"/, "", d); sub(/".*/, "", d); w = $0; sub(/.*"result":"/, "", w); sub(/".*/, "", w)
           r = ""; if ($0 ~ /"reason":/) { r = $0; sub(/.*"reason":"/, "", r); sub(/".*/, "", r); r = " (" r ")" }
           lines = lines d " " w r "; " } END { print last }' "$1"
  }
  check_machine() {  # NAME CODE WORDS: the code and the final words of its last run
    run_on "$1"
    local got=$? words
    words=$(finals "$work/$1/runs.log")
    printf '%-24s %s  %s\n' "$1" "$got" "$words"
    [[ $got == "$2" ]] || { cat "$work/$1/err"; fail "$1 ended with $got, expected $2"; }
    [[ $words == "$3" ]] || fail "$1 recorded: $words; expected: $3"
  }
  machine up-to-date-and-other 0 '{ "letter": "E", "revision": "1.28" }' '{ "letter": "F", "hardware_revision": "REV00002" }'
  check_machine up-to-date-and-other 0 'E: up-to-date; F: not-this-model (hardware revision) (another-revision); '
  machine two-to-update 0 '{ "letter": "E" }' '{ "letter": "F" }'
  check_machine two-to-update 0 'E: updated; F: updated; '
  machine no-drive 4
  check_machine no-drive 4 ''
  machine disc-and-unreadable 5 '{ "letter": "E", "disc_present": true }' \
    '{ "letter": "F", "faults": [ { "command": 1, "kind": "timeout" } ] }'
  check_machine disc-and-unreadable 5 'F: unreadable (no-answer); E: left-as-is (disc-present); '
  machine refused-block 1 '{ "letter": "E", "refuse_block": 10, "refused_block_restarts": true }'
  check_machine refused-block 1 'E: failed (block-refused); '
  expect_in "$work/refused-block/runs.log" '"reason":"block-refused","block":10,"pass":1,"sense":"'
  # Its answer after the switch lost: the run cannot tell which firmware it runs.
  machine left-in-update-firmware 7 \
    '{ "letter": "E", "faults": [ { "cdb": "12 00 00 00 60", "command": 4, "kind": "transport" } ] }'
  check_machine left-in-update-firmware 7 'E: left-in-update-firmware (no-answer); '
  machine damaged-image 6 '{ "letter": "E" }'
  sha256sum "$image" | sed 's|  .*|  A0013431.128|' >"$work/damaged-image/A0013431.128.sha256"
  printf 'x' | dd of="$work/damaged-image/A0013431.128" bs=1 seek=4096 conv=notrunc status=none
  check_machine damaged-image 6 'E: failed (image-refused); '
  grep -q '"image_sha256_expected"' "$work/damaged-image/runs.log" || fail "the digest the checksum file gave is not recorded"
  # Killed while the drive re-flashes itself, then run again at once: the
  # drive still re-flashing is not ready (5), and a run once it is done finds
  # it updated.
  machine killed-during-reflash 5 '{ "letter": "E", "leave_command_ms": 0, "reflash_ms": 4000 }'
  home=$work/killed-during-reflash
  (cd "$home" && exec env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$home/scenario.json" ODD_SGIO_REPORT="$home/report" \
    ODD_SGIO_STATE="$home/state" "$build/odd-fwupdate" --yes --log "$home/runs.log" </dev/null >"$home/out" 2>"$home/err") &
  pid=$!
  for tries in $(seq 300) never; do
    LC_ALL=C grep -qaP '^\x3b\x05\xff\x00{4}\x01\x00\x00' "$home/state/E.journal" 2>/dev/null && break; sleep 0.02
  done
  [[ $tries != never ]] || fail "the leave command never reached the drive"
  kill -KILL "$pid"
  { wait "$pid"; } 2>/dev/null
  check_machine killed-during-reflash 5 'E: unreadable (not-ready); '
  sleep 4
  check_machine killed-during-reflash 0 'E: up-to-date; '
  ;;
host_name_in_utf8)
  # A host named in Japanese is written in the record as its own UTF-8, not byte by byte.
  unshare -ru true 2>/dev/null || { echo "SKIP: no UTS namespace to rename the host in (unshare -ru)"; exit 77; }
  one_drive_scenario '' ''
  (cd "$work" && unshare -ru bash -c 'printf "東京-pc" >/proc/sys/kernel/hostname && env LD_PRELOAD="$0" ODD_SGIO_SCENARIO="$PWD/scenario.json" \
     ODD_SGIO_REPORT="$PWD/report" "$1" --check --log runs.log >out 2>err; echo $? >code
     LC_ALL= LANG=ja_JP.UTF-8 env LD_PRELOAD="$0" ODD_SGIO_SCENARIO="$PWD/scenario.json" \
     ODD_SGIO_REPORT="$PWD/report" "$1" --check --log - >record 2>>err; echo $? >>code' "$shim" "$build/odd-fwupdate")
  [[ $(cat "$work/code") == $'3\n3' ]] || { cat "$work/err"; fail "exit codes $(cat "$work/code" | tr '\n' ' '), expected 3 twice"; }
  expect_in "$work/runs.log" '"host":"東京-pc"'
  # On standard output too, whatever the console's language.
  expect_in "$work/record" '"host":"東京-pc"'
  ;;
log_on_standard_output)
  # --log -: standard output carries the record alone, a JSON value a line,
  # and the console's text goes to standard error. SIGTERM in the pause
  # after E: (outside any update) still ends the record there: F: not visited
  # and the run's line with the signal's exit code.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23" }, { "letter": "F", "revision": "1.23" } ] }'
  make_image
  arguments=(--yes --log -)
  trap 'kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
  start_updater
  wait_for "$work/out" '"result":"updated"'
  kill -TERM "$pid"
  finish_updater
  expect_code 143
  python3 -c 'import json, sys
for line in open(sys.argv[1], "rb"):
    r = json.loads(line)
    print(r.get("device", r["record"]), r.get("result", r.get("exit_code")))' "$work/out" >"$work/records" ||
    { cat "$work/out"; fail "standard output is not JSON lines alone"; }
  expect_bytes "$work/records" $'E: updating\nE: updated\nF: not-visited\nrun 143\n'
  expect_in "$work/err" "$banner"
  expect_in "$work/err" 'Success to update the firmware.'
  # A standard output whose reader is gone, or a full one: the record is told
  # once as not written; the run, its drive and its exit code are as without it.
  one_drive_scenario '' ''
  for output in closed-pipe /dev/full; do
    (cd "$work" && python3 -c 'import os, subprocess, sys
if sys.argv[1] == "closed-pipe":
    reader, out = os.pipe()
    os.close(reader)
else:
    out = os.open(sys.argv[1], os.O_WRONLY)
sys.exit(subprocess.call(sys.argv[2:], stdout=out))' "$output" env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" \
      ODD_SGIO_REPORT="$work/report" "$build/odd-fwupdate" --yes --log - </dev/null 2>"$work/err")
    code=$?
    expect_code 0
    expect_state revision 1.28
    [[ $(grep -c 'the log - cannot be written' "$work/err") == 1 ]] || { cat "$work/err"; fail "$output: the record's failure must be told once"; }
  done
  ;;
cut_record_beside_another_machine)
  # A record cut short at this run's file size limit, and another machine's
  # record appended right after the cut: nothing is taken back, so the
  # earlier record and the other machine's stay whole, each on a line of its
  # own. The cut is told once, and the run ends as without it.
  one_drive_scenario '' ''
  { printf '{"record":"earlier","pad":"'; head -c 960 /dev/zero | tr '\0' x; printf '"}\n'; } >"$work/runs.log"
  cp "$work/runs.log" "$work/earlier.log"
  other='{"record":"run","host":"another-machine","exit_code":0}'
  arguments=(--check --log "$work/runs.log")
  (ulimit -S -f 1 && run_updater '' LD_PRELOAD="$shim:$build/libother-machine-append.so" \
    ODD_OTHER_LOG="$work/runs.log" ODD_OTHER_RECORD="$other" && exit "$code")
  code=$?
  expect_code 3
  [[ $(grep -c 'cannot be written' "$work/err") == 1 ]] || { cat "$work/err"; fail "the log's failure must be told once"; }
  cmp -s -n "$(wc -c <"$work/earlier.log")" "$work/runs.log" "$work/earlier.log" || fail "the earlier record changed"
  [[ $(sed -n 3p "$work/runs.log") == "$other" ]] || { cat "$work/runs.log"; fail "the other machine's record is not whole on the third line"; }
  ;;
static_file)
  # The file a technician copies: statically linked, and whole in a root that
  # holds nothing but it and the image (no device, no locale files).
  static=$build/linux/odd-fwupdate
  [[ $(ldd "$static" 2>&1) == *'not a dynamic executable'* ]] || { ldd "$static"; fail "the shipped file is linked dynamically"; }
  unshare -r true 2>/dev/null || { echo "SKIP: no user namespace to make an empty root in (unshare -r)"; exit 77; }
  mkdir "$work/root"
  image=$work/root/A0013431.128
  make_image
  cp "$static" "$work/root/odd-fwupdate"
  in_root() { unshare -r chroot "$work/root" "$@" </dev/null >"$work/out" 2>"$work/err"; code=$?; }
  in_root /odd-fwupdate --version
  expect_code 0
  expect_bytes "$work/out" "$version_line"
  in_root /odd-fwupdate
  expect_code 1
  expect_bytes "$work/out" "$banner$no_target"
  LC_ALL= LANG=ja_JP.UTF-8 in_root /odd-fwupdate
  expect_code 1
  expect_bytes "$work/out" "$banner$no_target_ja_utf8"
  ;;
descriptor_sense)
  # The media check reads bytes 2, 12 and 13 of the sense: only fixed format
  # has no medium there, so the update goes on only if the host converts it.
  one_drive_scenario ', "sense_format": "descriptor"' '"yes"'
  run_updater 'y\n\n'
  expect_code 0
  expect_not_in "$work/out" 'Unknown Error'
  expect_in "$work/out" 'Success to update the firmware.'
  expect_state revision 1.28
  cmp -s "$work/report/E.image" "$image" || fail "the drive does not hold the image"
  ;;
refused_open)
  scenario <<<'{ "drives": [ { "letter": "E", "open_fails": true }, { "letter": "F", "open_fails": true } ] }'
  run_updater ''
  expect_code 1
  expect_bytes "$work/out" "$banner$no_target"
  [[ $(grep -c 'refused' "$work/err") == 1 ]] || { cat "$work/err"; fail "the refusal must be told once"; }
  expect_in "$work/err" 'odd-fwupdate: access to /dev/sr1 was refused: run as root, or with write access to /dev/sr1 and the CAP_SYS_RAWIO capability\n'
  ;;
refused_write_buffer)
  # A WRITE BUFFER the kernel refuses though the capability was there is told when it happens.
  one_drive_scenario ', "sg_io_errno": 1, "sg_io_errno_opcode": 59' ''
  arguments=(--log "$work/runs.log")
  run_updater 'y\n\n'
  expect_code 1
  # The record says how the system refused it.
  expect_in "$work/runs.log" '"result":"failed","reason":"switch-refused","message":"Failed to move to the kernel mode.","system_error":"errno 1"}'
  [[ $(grep -c 'refused' "$work/err") == 1 ]] || { cat "$work/err"; fail "the refusal must be told once"; }
  expect_in "$work/err" 'odd-fwupdate: access to /dev/sr1 was refused: run as root, or with write access to /dev/sr1 and the CAP_SYS_RAWIO capability\n'
  expect_in "$work/out" '\nFailed to move to the kernel mode.'
  expect_in "$work/out" 'Update program is terminated by occuring an error.'
  [[ $(count_commands '3B') == 0 ]] || fail "a refused WRITE BUFFER reached the drive"
  expect_state revision 1.23
  # Refused before it left: the drive is known to be in its normal firmware.
  expect_not_in "$work/err" 'still in its update firmware'
  ;;
missing_capability)
  # Known before any question: nothing is asked and no drive hears a command.
  scenario <<<'{ "cap_sys_rawio": false, "drives": [ { "letter": "E" }, { "letter": "G" } ] }'
  run_updater 'y\ny\n\n'
  expect_code 1
  expect_bytes "$work/err" $'odd-fwupdate: /dev/sr1 cannot be updated without the CAP_SYS_RAWIO capability: run as root, or give the program the capability (setcap cap_sys_rawio+ep odd-fwupdate)\n\nTORVAL: Available target is not found.\n[press Enter] '
  expect_bytes "$work/out" "$banner$no_target"
  [[ -z $(ls "$work/report") ]] || fail "a command reached a drive: $(ls "$work/report")"
  ;;
japanese_console)
  scenario <<<'{}'
  run_updater '' LC_ALL= LANG=ja_JP.UTF-8
  expect_code 1
  expect_bytes "$work/out" "$banner$no_target_ja_utf8"
  run_updater '' LC_ALL= LANG=ja_JP.SJIS
  expect_bytes "$work/out" "$banner"$'\r\n\x82\xb1\x82\xcc\xcc\xdf\xdb\xb8\xde\xd7\xd1\x82\xc5\x97\x98\x97\x70\x89\xc2\x94\x5c\x82\xc8\xc4\xde\xd7\xb2\xcc\xde\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81\x42'
  run_updater '' LC_ALL=C LANG=ja_JP.UTF-8
  expect_bytes "$work/out" "$banner$no_target"
  # A Japanese locale whose codeset the terminal cannot show code page 932 in: English.
  run_updater '' LC_ALL= LANG=ja_JP.eucJP
  expect_bytes "$work/out" "$banner$no_target"
  ;;
sg_inq)
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23" } ] }'
  peer sg_inq /dev/sr1
  expect_code 0
  expect_in "$work/out" 'Peripheral device type: cd/dvd'
  expect_in "$work/out" 'Vendor identification: QUARLEN'
  expect_in "$work/out" 'Product identification: DVD-RW  KWR-322'
  expect_in "$work/out" 'Product revision level: 1.23'
  # Its VPD request (EVPD set) is refused: ILLEGAL REQUEST, INVALID FIELD IN CDB.
  grep -q '^12 01 .* status 02 sense 70 00 05 00 00 00 00 0A 00 00 00 00 24 00' "$work/report/E.commands" ||
    { cat "$work/report/E.commands"; fail "no refused VPD INQUIRY"; }
  ;;
sg_turs)
  scenario <<<'{ "drives": [ { "letter": "E" }, { "letter": "F", "sense_format": "descriptor" } ] }'
  peer sg_turs -vv /dev/sr1
  expect_code 2
  expect_in "$work/out" 'Fixed format, current; Sense key: Not Ready'
  expect_in "$work/out" 'Additional sense: Medium not present'
  peer sg_turs -vv /dev/sr2
  expect_code 2
  expect_in "$work/out" 'Descriptor format, current; Sense key: Not Ready'
  expect_in "$work/out" 'Additional sense: Medium not present'
  ;;
real_drives_stay_out)
  # A machine's own drive, under any name, is never reached through the shim,
  # even when the scenario cannot be read: a test answering Yes must not update it.
  mknod "$work/sr-here" b 11 0 2>/dev/null || { echo "SKIP: cannot make a drive node here (mknod)"; exit 77; }
  ln -s "$work/sr-here" "$work/cdrom"
  echo '{ not a scenario' >"$work/scenario.json"
  for path in "$work/sr-here" "$work/cdrom" "$work//sr-here"; do
    env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" sg_inq "$path" >"$work/out" 2>&1
    code=$?
    [[ $code != 0 ]] || fail "sg_inq reached $path"
    expect_in "$work/out" "No such file or directory"
  done
  ;;
sg_read_buffer)
  scenario <<<'{ "drives": [ { "letter": "E", "hardware_revision": "ATAPI123", "signature": "QUA_ADV ", "update_vendor": "QUA_ADV " } ] }'
  peer sg_read_buffer --raw --mode=data --id=0xf1 --length=48 /dev/sr1
  expect_code 0
  sent=$(cut -d'|' -f1 "$work/report/E.commands" | sed 's/ *$//')
  if [[ $sent == '3C 02 F1 00 00 00 00 00 00 00' ]]; then
    echo "SKIP: this sg_read_buffer ($(sg_read_buffer --version 2>&1)) clears --length before sending:"
    echo "      the drive received READ BUFFER with allocation length 0 and answered it; see sg_raw_identity"
    exit 77
  fi
  [[ $sent == '3C 02 F1 00 00 00 00 00 30 00' ]] || fail "the drive received '$sent'"
  expect_bytes "$work/out" 'KWR-322 IDBLOCK ATAPI123QUA_ADV QUA_ADV         '
  ;;
sg_raw_identity)
  scenario <<<'{ "drives": [ { "letter": "E", "hardware_revision": "ATAPI123", "signature": "QUA_ADV ", "update_vendor": "QUA_ADV " } ] }'
  env LD_PRELOAD="$shim" ODD_SGIO_SCENARIO="$work/scenario.json" \
    sg_raw --binary --request=48 /dev/sr1 3c 02 f1 00 00 00 00 00 30 00 >"$work/out" 2>"$work/err"
  code=$?
  expect_code 0
  expect_bytes "$work/out" 'KWR-322 IDBLOCK ATAPI123QUA_ADV QUA_ADV         '
  ;;
sg_write_buffer)
  # Three separate processes, one drive: the shim's state folder carries it over.
  scenario <<<'{ "drives": [ { "letter": "E", "revision": "1.23", "leave_command_ms": 0, "reflash_ms": 0 } ] }'
  make_image
  mode_block "$work/mode.bin"
  state_folder=$work/state
  mkdir -p "$state_folder"
  peer sg_write_buffer --mode=4 --id=0xff --in="$work/mode.bin" /dev/sr1
  expect_code 0
  peer sg_inq /dev/sr1
  expect_in "$work/out" 'Product revision level: 000'
  peer sg_write_buffer --mode=7 --id=0xf0 --bpw=32768 --in="$image" /dev/sr1
  expect_code 0
  [[ $(count_commands '3B 07 F0') == 64 ]] || fail "64 blocks expected"
  grep -q '^3B 07 F0 1F 80 00 00 80 00 00 | out 32768 | status 00$' "$work/report/E.commands" || fail "no last block at 0x1F8000"
  expect_state received_bytes 2097152
  peer sg_write_buffer --mode=5 --id=0xff --in="$work/mode.bin" /dev/sr1
  expect_code 0
  expect_state reflash_count 1
  cmp -s "$work/report/E.image" "$image" || fail "the drive does not hold the image"
  peer sg_inq /dev/sr1
  expect_in "$work/out" 'Product revision level: 1.28'
  ;;
bench_smoke)
  bash "$source/bench/sgio_transfer.sh" --build "$build" --rounds 1 --size 1M >"$work/out" 2>&1
  code=$?
  cat "$work/out"
  expect_code 0
  expect_in "$work/out" '1048576 bytes in 32 blocks of 32768, 1 rounds'
  expect_in "$work/out" 'overhead per block: odd-fwupdate'
  ;;
*)
  fail "no such case"
  ;;
esac
echo "passed: $case_name"
