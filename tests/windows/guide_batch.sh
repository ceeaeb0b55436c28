#!/usr/bin/env bash
# The guide's batch file, its own text (the log in the run's folder instead of
# a share), run by `wine cmd /c` on machines of emulated drives: the 64-bit
# program on the NT route, its drive E: served by the preloaded SG_IO shim,
# which keeps each drive's state from one run of the file to the next. Each
# machine's line and the file's exit code are checked.
#
#   guide_batch.sh GUIDE EXE SHIM MAKE_IMAGE BASE_PREFIX WORK
set -uo pipefail
guide=$1 exe=$2 shim=$3 make_image=$4 base_prefix=$5 work=$6
fail() { wineserver -k 2>/dev/null; echo "FAIL (guide_batch): $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
cp -al "$base_prefix" "$prefix" 2>/dev/null || cp -a "$base_prefix" "$prefix" || fail "cannot copy the Wine prefix"
for file in "$base_prefix"/*.reg; do rm -f "$prefix/${file##*/}"; cp "$file" "$prefix/"; done
ln -sfn /dev/null "$prefix/dosdevices/e::"
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY LC_ALL LC_CTYPE WINEDLLOVERRIDES

awk '/^Windows \(a batch file/ { found = 1 } found && /^```bat$/ { inside = 1; next } inside && /^```$/ { exit } inside' \
  "$guide" | sed 's/^set LOG=.*/set LOG=runs.log/' | sed 's/$/\r/' >"$work/guide.bat"
grep -q 'odd-fwupdate /yes' "$work/guide.bat" || fail "the guide's batch file was not found"

# machine drives expected-code
while read -r machine code drive; do
  run=$work/$machine
  mkdir -p "$run/report" "$run/state"
  cp "$exe" "$run/odd-fwupdate.exe"
  cp "$work/guide.bat" "$run/"
  "$make_image" --out "$run/A0013431.128" --size 2M --version 1.28 --date 08/07/25 >/dev/null || fail "make-image"
  (cd "$run" && sha256sum A0013431.128 >A0013431.128.sha256) || fail "sha256sum"
  echo "{ \"images\": [ { \"path\": \"A0013431.128\", \"size\": 2097152, \"version\": \"1.28 \", \"date\": \"08/07/25\" } ],
          \"drives\": [ $drive ] }" >"$run/scenario.json"
  (cd "$run" && LD_PRELOAD=$shim ODD_SGIO_SCENARIO=$run/scenario.json ODD_SGIO_REPORT=$run/report \
     ODD_SGIO_STATE=$run/state timeout 300 wine cmd /c guide.bat >"$run/out" 2>"$run/err")
  got=$?
  wineserver -k 2>/dev/null
  line=$(tr -d '\r' <"$run/out")
  [[ $line =~ ^[^:]+:\ odd-fwupdate\ exit\ code\ $code$ ]] || fail "$machine: the file said '$line', expected its exit code $code"
  [[ $got == "$code" ]] || fail "$machine: the file ended with $got, expected $code"
  grep -q '"record":"run"' "$run/runs.log" || fail "$machine: no record in runs.log"
  echo "$machine: $line"
done <<'EOF'
no-drive 4
to-update 0 { "letter": "E", "device": "/dev/null", "revision": "1.23" }
restarts-old 1 { "letter": "E", "device": "/dev/null", "refuse_block": 3, "refused_block_restarts": true }
stuck 7 { "letter": "E", "device": "/dev/null", "stay_in_update_mode": true }
EOF
echo "passed: guide_batch"
