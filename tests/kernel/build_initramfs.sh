#!/usr/bin/env bash
# The kernel cases' initramfs: busybox, the kernel's modules the cases need,
# the guest's /init, and sg3-utils with the libraries they load.
#   build_initramfs.sh KERNEL_TREE OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=$1
out=$2
version=$(ls "$tree/lib/modules")
modules=$tree/lib/modules/$version/kernel
root=$(mktemp -d "${TMPDIR:-/tmp}/odd-initramfs.XXXXXX")
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"
mkdir -p "$root"/{bin,lib/modules,lib64,lib/x86_64-linux-gnu,proc,sys,dev,tmp,run,etc,case}
cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list); do [[ -e $root/bin/$applet ]] || ln -s busybox "$root/bin/$applet"; done
for tool in sg_inq sg_write_buffer; do
  cp "/usr/bin/$tool" "$root/bin/"
  for library in $(ldd "/usr/bin/$tool" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$library")"
    cp -n "$library" "$root$library"
  done
done
for module in drivers/scsi/scsi_common drivers/scsi/scsi_mod drivers/cdrom/cdrom drivers/scsi/sr_mod drivers/scsi/sg \
              fs/configfs/configfs crypto/crct10dif_common crypto/crct10dif_generic lib/crc-t10dif \
              drivers/target/target_core_mod drivers/uio/uio drivers/target/target_core_user \
              drivers/target/loopback/tcm_loop drivers/virtio/virtio_ring drivers/virtio/virtio \
              drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio_pci_modern_dev drivers/virtio/virtio_pci \
              fs/netfs/netfs fs/fscache/fscache? net/9p/9pnet net/9p/9pnet_virtio fs/9p/9p; do
  # 6.1 ships modules as .ko, 6.12 as .ko.xz (unpacked here: the guest's
  # insmod loads plain files); 6.12 builds some in (virtio, crc-t10dif).
  # A module marked ? may be gone (6.12 folds fscache into netfs).
  optional=${module%"${module%\?}"}
  module=${module%\?}
  name=${module##*/}
  if [[ -e $modules/$module.ko ]]; then
    cp "$modules/$module.ko" "$root/lib/modules/"
  elif [[ -e $modules/$module.ko.xz ]]; then
    xz -dc "$modules/$module.ko.xz" >"$root/lib/modules/$name.ko"
  elif [[ -e $modules/$module.ko.zst ]]; then
    zstd -dcq "$modules/$module.ko.zst" >"$root/lib/modules/$name.ko"
  elif [[ -z $optional ]] && ! grep -qx "kernel/$module.ko" "$tree/lib/modules/$version/modules.builtin"; then
    echo "build_initramfs: $module is neither a module nor built in" >&2
    exit 1
  fi
done
# The drive over USB: dummy_hcd joins a gadget (FunctionFS, served by
# usb-drive) to usb-storage, with what they depend on (read from each module's
# own "depends=", the unpacked package having no modules.dep), in the order
# the guest loads them: lib/modules/usb_order.
declare -A module_files=() loaded=()
while read -r file; do
  name=${file##*/}
  name=${name%%.ko*}
  module_files[${name//-/_}]=$file
done < <(find "$modules" -name '*.ko*')
unpacked() {
  case $1 in
    *.xz) xz -dc "$1" ;;
    *.zst) zstd -dcq "$1" ;;
    *) cat "$1" ;;
  esac
}
usb_order=()
add_with_dependencies() {
  local key=${1//-/_} file dependency
  [[ -n ${loaded[$key]:-} ]] && return 0
  loaded[$key]=1
  file=${module_files[$key]:-}
  [[ -n $file ]] || return 0  # built in
  for dependency in $(unpacked "$file" | grep -aoP 'depends=\K[^\x00]*' | head -n 1 | tr ',' ' '); do
    add_with_dependencies "$dependency"
  done
  unpacked "$file" >"$root/lib/modules/$key.ko"
  usb_order+=("$key")
}
for module in configfs dummy_hcd libcomposite usb_f_fs usb_storage; do add_with_dependencies "$module"; done
printf '%s\n' "${usb_order[@]}" >"$root/lib/modules/usb_order"
echo 'root:x:0:0:root:/:/bin/sh' >"$root/etc/passwd"
echo 'nobody:x:65534:65534:nobody:/:/bin/sh' >>"$root/etc/passwd"
install -m 755 "$here/guest_init" "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out.part"
mv "$out.part" "$out"
