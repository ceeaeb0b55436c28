# Sourced by case.sh in the guest: the scenario's drives made LUNs of the
# kernel's SCSI target, each served by tcmu-drive, and the way the case runs
# the updater. Everything lives in /case.
target=/sys/kernel/config/target
loop=$target/loopback/naa.5001405000000001

# add_drive INDEX: the scenario's drive INDEX as LUN INDEX (/dev/srINDEX once attached).
add_drive() {
  local n=$1 core=$target/core/user_$(($1 + 1))/drive$1 uio name
  mkdir -p "$core"
  echo -n "dev_config=odd/drive$n" >"$core/control"
  # The drive's own waits are the emulator's; the target must not fail a command it still holds.
  echo 0 >"$core/attrib/cmd_time_out"
  # An abort of a command it holds is told to tcmu-drive, which then answers it.
  echo 1 >"$core/attrib/tmr_notification"
  echo 1 >"$core/enable"
  for uio in /sys/class/uio/uio*; do
    grep -q "drive$n" "$uio/name" && name=${uio##*/}
  done
  mkdir -p /case/report
  /case/tcmu-drive /case/scenario.json "$n" "/dev/$name" /case/report 2>>/case/handler.err &
  sleep 0.2
  if [ ! -d "$loop/tpgt_1" ]; then
    mkdir -p "$loop/tpgt_1"
    echo naa.5001405000000002 >"$loop/tpgt_1/nexus"
  fi
  mkdir -p "$loop/tpgt_1/lun/lun_$n"
  ln -s "$core" "$loop/tpgt_1/lun/lun_$n/drive$n"
}

# add_usb_drive INDEX: the scenario's drive INDEX on a USB gadget of its own
# (dummy_hcd's UDC INDEX, usb-drive behind FunctionFS), which usb-storage and
# sr then attach as /dev/srINDEX.
add_usb_drive() {
  local n=$1 gadget=/sys/kernel/config/usb_gadget/drive$1 ffs=/dev/ffs-drive$1 module i=0
  if [ ! -d /sys/class/udc ]; then
    for module in $(cat /lib/modules/usb_order); do
      # Two UDCs: two drives, each on a port of its own.
      [ -d /sys/module/$module ] || insmod /lib/modules/$module.ko $([ $module = dummy_hcd ] && echo num=2) ||
        echo "guest: insmod $module failed"
    done
  fi
  mkdir -p "$gadget/strings/0x409" "$gadget/configs/c.1" "$gadget/functions/ffs.drive$n"
  echo 0x1d6b >"$gadget/idVendor"
  echo 0x0104 >"$gadget/idProduct"
  echo "ODD drive $n" >"$gadget/strings/0x409/product"
  ln -s "$gadget/functions/ffs.drive$n" "$gadget/configs/c.1/"
  mkdir -p "$ffs" /case/report
  mount -t functionfs "drive$n" "$ffs"
  /case/usb-drive /case/scenario.json "$n" "$ffs" /case/report 2>>/case/handler.err &
  while [ ! -e "$ffs/ep2" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  echo "dummy_udc.$n" >"$gadget/UDC"
}

# unplug_drive INDEX, plug_drive INDEX: the drive taken off its bus and put
# back (its LUN unlinked from tcm_loop and linked again; on USB its gadget
# taken off the UDC and bound again), as a cable pulled and plugged.
# unplug_drive returns once the kernel has removed the drive's /dev/srINDEX
# (a gadget bound again before the host saw it go is no unplug at all).
unplug_drive() {
  local i=0
  if [ -d /sys/kernel/config/usb_gadget/drive$1 ]; then
    echo "" >/sys/kernel/config/usb_gadget/drive$1/UDC
  else
    rm "$loop/tpgt_1/lun/lun_$1/drive$1"
  fi
  while [ -e /sys/block/sr$1 ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
}
plug_drive() {
  if [ -d /sys/kernel/config/usb_gadget/drive$1 ]; then
    echo "dummy_udc.$1" >/sys/kernel/config/usb_gadget/drive$1/UDC
  else
    ln -s "$target/core/user_$(($1 + 1))/drive$1" "$loop/tpgt_1/lun/lun_$1/drive$1"
  fi
}

# attached N: waits until /dev/sr0 to /dev/sr(N-1) are there.
attached() {
  local i=0
  while [ $i -lt 100 ]; do
    [ -e "/dev/sr$(($1 - 1))" ] && return 0
    sleep 0.1
    i=$((i + 1))
  done
  echo "guest: /dev/sr$(($1 - 1)) never came"
  return 1
}

# update ANSWERS [PROGRAM...]: the updater run as a technician runs it, ANSWERS
# (printf escapes) on its standard input, in the folder of the image; its
# console, standard error and exit code into /case.
update() {
  local answers=$1
  shift
  [ $# -gt 0 ] || set -- /case/odd-fwupdate
  # The image with its checksum file, as a release folder holds them.
  mkdir -p /tmp/run && cp /case/A0013431.128 /tmp/run/
  [ ! -e /case/A0013431.128.sha256 ] || cp /case/A0013431.128.sha256 /tmp/run/
  (cd /tmp/run && printf "$answers" | "$@" >/case/out 2>/case/err)
  echo $? >/case/code
}

# start_update ANSWERS PERCENT: the updater started as update starts it, but
# in the background, returning once its progress line shows PERCENT; its
# process in $program.
start_update() {
  mkdir -p /tmp/run && cp /case/A0013431.128 /tmp/run/
  cd /tmp/run
  (sleep 1; printf "$1") | /case/odd-fwupdate >/case/out 2>/case/err &
  program=$!
  while ! grep -q "Processing $2%" /case/out 2>/dev/null; do sleep 0.05; done
}
