#!/bin/sh
# The first process of a user-mode Linux started by uml.sh: mounts what a
# program needs, loads the FAT driver, runs the job named by uml_job= on the
# kernel's command line and powers the machine off. The kernel hands the
# command line's name=value words to this process as its environment.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /run
modules=/usr/lib/uml/modules/$(uname -r)/kernel/fs
for module in fat/fat fat/vfat nls/nls_cp437 nls/nls_iso8859-1 nls/nls_utf8; do
  insmod "$modules/$module.ko" 2>>"$uml_log" || insmod "$modules/$module.ko.xz" 2>>"$uml_log"
done
status=0
sh "$uml_job" >>"$uml_log" 2>&1 || status=$?
sync
echo "$status" >"$uml_status"
sync
poweroff -f
