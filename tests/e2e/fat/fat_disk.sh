# Disk images as Windows 95 users have them: an MBR disk whose one partition,
# at 1 MiB, is FAT16 (40 MiB disk) or FAT32 (64 MiB disk, as OSR2 and 98
# format it), holding a drive C: copied with mtools. Sourced by the FAT tests,
# with uml.sh.

# fat_test_prepare: what a FAT test needs before anything else: the FAT tools
# and user-mode Linux (else the caller's skip says which is missing), and a
# work folder, $work and $UML_WORK, removed when the test ends.
fat_test_prepare() {
  export PATH=$PATH:/usr/sbin:/sbin
  local tool why
  for tool in mkfs.fat fsck.fat mcopy mattrib mdir sfdisk; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (packages dosfstools, mtools, fdisk)"
  done
  why=$(uml_unavailable)
  [ -z "$why" ] || skip "$why"
  UML_WORK=$(mktemp -d)
  work=$UML_WORK
  trap 'rm -rf "$work"' EXIT
  # mtools refuses a FAT whose "clean" bits a cut-off mount left unset.
  export MTOOLS_SKIP_CHECK=1
}

fat_offset=$((2048 * 512))

# The mtools name of the partition of DISK.
fat_part() { echo "$1@@$fat_offset"; }

# fat_disk_make 16|32 DISK SOURCE: the disk, the files of the folder SOURCE
# on its partition, SYSTEM.DAT hidden, system and read-only as Windows keeps
# it. Long names (in the INF folder, say) get short names as Windows gives
# them.
fat_disk_make() {
  local bits=$1 disk=$2 source=$3 megabytes type
  case $bits in
    16) megabytes=40 type=6 ;;
    32) megabytes=64 type=c ;;
    *) echo "fat_disk_make: FAT$bits?" >&2; return 1 ;;
  esac
  rm -f "$disk" "$disk.part"
  truncate -s "${megabytes}M" "$disk"
  printf 'label: dos\nstart=2048, type=%s, bootable\n' "$type" | sfdisk -q "$disk"
  local sectors=$((megabytes * 2048 - 2048))
  mkfs.fat -F "$bits" -h 2048 -n DRIVE_C -C "$disk.part" $((sectors / 2)) >/dev/null
  mcopy -s -m -i "$disk.part" "$source"/* ::/
  if [ -f "$source/WINDOWS/SYSTEM.DAT" ]; then
    mattrib -i "$disk.part" +h +s +r ::/WINDOWS/SYSTEM.DAT
  fi
  fat_disk_insert "$disk.part" "$disk"
  rm -f "$disk.part"
}

# The partition of DISK as a file of its own, and back.
fat_disk_extract() {
  dd if="$1" of="$2" bs=1M skip=1 conv=sparse status=none
}
fat_disk_insert() {
  dd if="$1" of="$2" bs=1M seek=1 conv=notrunc,sparse status=none
}

# fat_disk_files DISK INTO: every file of the partition unpacked into INTO,
# every directory entry with its short name in INTO.dir and its attributes in
# INTO.attr.
fat_disk_files() {
  local part
  part=$(fat_part "$1")
  rm -rf "$2"
  mkdir -p "$2"
  mcopy -s -n -m -i "$part" ::/ "$2/"
  mdir -/ -a -i "$part" ::/ | grep -v '^ *[0-9 ]* bytes free' >"$2.dir"
  mattrib -/ -i "$part" ::/ >"$2.attr"
}

# fat_disk_fsck DISK OPTIONS...: fsck.fat on the partition (-n checks, -a
# repairs as ScanDisk would at the next start); its output in DISK.fsck.
fat_disk_fsck() {
  local disk=$1 status=0
  shift
  fat_disk_extract "$disk" "$disk.part"
  fsck.fat "$@" "$disk.part" >"$disk.fsck" 2>&1 || status=$?
  case " $* " in *" -n "*) ;; *) fat_disk_insert "$disk.part" "$disk" ;; esac
  rm -f "$disk.part"
  return "$status"
}
