// What replacing a file does to its DOS attributes (read-only, hidden,
// system) and its short (8.3) name on a FAT drive mounted by Linux.
//
// The kernel's FAT driver (statfs type MSDOS_SUPER_MAGIC) keeps neither
// across a replace by rename, but lets the attributes be read before and set
// again after with the FAT_IOCTL_GET/SET_ATTRIBUTES ioctls; the new file gets
// the short name the driver derives from its long one, SYSTEM.DAT for
// SYSTEM.DAT. fusefat, the FUSE FAT driver (statfs type FUSE_SUPER_MAGIC,
// mount type "fuse.fusefat"), answers the ioctls with ENOTTY, shows no
// attribute in the mode bits (every file reads 0700), creates every new file
// with the attribute "archive" alone and a short name "~1", "~2", ... under
// its long name, and renames keep that short name: after a replace, DOS and
// the start of Windows 95, which know only short names, no longer find
// SYSTEM.DAT. Worse, fusefat loses what a folder holds when the folder is
// renamed (the files are gone and their clusters lost), and a backup is
// named by renaming its folder once complete. A drive under a FUSE FAT driver
// is therefore refused before anything is written. This file tells the file
// systems apart, decides what a replace can keep and words what the user
// must know; it does not touch the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace creg {

// The kind of file system that holds a file, as far as its DOS attributes go.
enum class FatKind {
  NotFat,  // No DOS attributes: nothing to keep.
  Kernel,  // The kernel's FAT driver: the attribute ioctls work.
  Fuse,    // A FAT driver under FUSE: no way to read or set attributes.
  // Another file system under FUSE, libguestfs' guestmount say, whose mount
  // type ("fuse") does not tell what lies below: a Windows 95 drive there is
  // FAT below, and its attributes are kept only where the ioctls answer.
  FuseUnnamed,
};

// The kind, from statfs's f_type and the mount's type as /proc/self/mountinfo
// gives it ("vfat", "fuse.fusefat", ...; empty when unknown).
FatKind fatKindOf(std::int64_t statfs_type, std::string_view mount_type);

// The mount type and mount point of the file system numbered major:minor
// (st_dev of a file on it) in `mountinfo` (the text of /proc/self/mountinfo);
// nothing when no line names it.
struct MountEntry {
  std::string type;
  std::string mountPoint;
};
std::optional<MountEntry> findMount(std::string_view mountinfo, unsigned major, unsigned minor);

// What a replace of the file can do for its attributes and short name.
enum class AttributePlan {
  NothingToKeep,  // Not on a FAT drive.
  Keep,           // Read before, set again after, with the ioctls.
  CannotKeep,     // On a FAT drive, but the attributes cannot be kept: tell the user.
};

// The plan from the kind of file system and the result of reading the
// attributes (0 when FAT_IOCTL_GET_ATTRIBUTES worked, else its errno).
AttributePlan planAttributes(FatKind kind, int get_error);

// The message for a file whose attributes a replace could not keep (the
// kernel's driver gives the new file its short name, so only they are at
// risk): `file` as the user knows it on the mount, `in_image` its path from
// the root of the FAT file system ("/WINDOWS/SYSTEM.DAT"), `reason` why.
std::string attributesNotKeptMessage(const std::string& file, const std::string& in_image,
                                     const std::string& reason);

// Why a drive mounted by a FAT driver under FUSE (`mount_type`) is refused,
// naming `file` on it and what to do instead.
std::string fuseFatRefusal(const std::string& file, const std::string& mount_type);

}  // namespace creg
