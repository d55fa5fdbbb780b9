#include "platform/systemdat/fat_attributes.h"

#include <cerrno>
#include <vector>

namespace creg {
namespace {

constexpr std::int64_t kMsdosSuperMagic = 0x4d44;
constexpr std::int64_t kFuseSuperMagic = 0x65735546;

bool containsFat(std::string_view text) {
  for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
    const auto lower = [&](std::size_t at) { return static_cast<char>(text[at] | 0x20); };
    if (lower(i) == 'f' && lower(i + 1) == 'a' && lower(i + 2) == 't') return true;
  }
  return false;
}

// A field of mountinfo with its octal escapes (\040 for a space, ...) undone.
std::string unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const auto digit = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
      if (digit(i + 1) && digit(i + 2) && digit(i + 3)) {
        out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                 (field[i + 3] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == ' ') ++at;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ') ++end;
    if (end > at) out.push_back(line.substr(at, end - at));
    at = end;
  }
  return out;
}

}  // namespace

FatKind fatKindOf(std::int64_t statfs_type, std::string_view mount_type) {
  if (statfs_type == kMsdosSuperMagic) return FatKind::Kernel;
  // FUSE names its drivers "fuse.NAME" or "fuseblk.NAME"; fusefat is
  // "fuse.fusefat". Any FAT driver there is known by "fat" in its name.
  if (statfs_type == kFuseSuperMagic) {
    const auto dot = mount_type.find('.');
    if (mount_type.substr(0, 4) == "fuse" && dot != std::string_view::npos &&
        containsFat(mount_type.substr(dot + 1)))
      return FatKind::Fuse;
    return FatKind::FuseUnnamed;
  }
  return FatKind::NotFat;
}

std::optional<MountEntry> findMount(std::string_view mountinfo, unsigned major, unsigned minor) {
  const std::string device = std::to_string(major) + ":" + std::to_string(minor);
  std::optional<MountEntry> found;
  while (!mountinfo.empty()) {
    const auto end = mountinfo.find('\n');
    const std::string_view line = mountinfo.substr(0, end);
    mountinfo = end == std::string_view::npos ? std::string_view{} : mountinfo.substr(end + 1);
    const auto parts = fields(line);
    // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE ...
    if (parts.size() < 7 || parts[2] != device) continue;
    for (std::size_t i = 6; i + 1 < parts.size(); ++i) {
      if (parts[i] != "-") continue;
      // A later line mounted over the same device is the one in use.
      found = MountEntry{unescape(parts[i + 1]), unescape(parts[4])};
      break;
    }
  }
  return found;
}

AttributePlan planAttributes(FatKind kind, int get_error) {
  if (get_error == 0) return AttributePlan::Keep;
  // ENOTTY (or EINVAL from older drivers) off FAT only says that the file
  // system has no DOS attributes. On FAT, whatever the error, the new file
  // comes without the old one's attributes.
  return kind == FatKind::NotFat ? AttributePlan::NothingToKeep : AttributePlan::CannotKeep;
}

std::string attributesNotKeptMessage(const std::string& file, const std::string& in_image,
                                     const std::string& reason) {
  const std::string name = in_image.substr(in_image.rfind('/') + 1);
  return file + " was written, but " + reason +
         ": it may have lost the DOS attributes hidden, system and read-only that Windows gives "
         "it. After unmounting, set them back on the image with mtools (which refuses an image "
         "fusefat has written unless MTOOLS_SKIP_CHECK=1 is set):\n  mattrib -i IMAGE +h +s "
         "+r ::" +
         in_image + "\nor under DOS: attrib +h +s +r " + name + " in its folder.";
}

std::string fuseFatRefusal(const std::string& file, const std::string& mount_type) {
  return file + " is on a FAT drive mounted through FUSE (" + mount_type +
         "), which cannot keep the DOS attributes and short (8.3) names of the files the "
         "uninstall writes, so that DOS and Windows 95 would no longer find SYSTEM.DAT, and "
         "which loses the files of a renamed folder; nothing was changed. Mount the drive with "
         "the kernel's FAT driver instead (for a disk image: mount -o loop,offset=...).";
}

}  // namespace creg
