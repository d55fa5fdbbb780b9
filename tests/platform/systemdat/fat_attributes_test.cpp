// What a replace of SYSTEM.DAT can keep of its DOS attributes and short name,
// decided from the file system it is on and from reading the attributes; and
// the notice that tells the user how to set them back.
#include "platform/systemdat/fat_attributes.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using creg::AttributePlan;
using creg::FatKind;

constexpr std::int64_t kMsdos = 0x4d44;
constexpr std::int64_t kFuse = 0x65735546;
constexpr std::int64_t kExt4 = 0xef53;
constexpr std::int64_t kTmpfs = 0x01021994;

TEST(FatAttributes, FileSystemsAreToldApartByTheirMagicAndMountType) {
  // The kernel's FAT driver, whatever the mount calls it (msdos, vfat).
  EXPECT_EQ(creg::fatKindOf(kMsdos, "vfat"), FatKind::Kernel);
  EXPECT_EQ(creg::fatKindOf(kMsdos, ""), FatKind::Kernel);
  // fusefat as /proc/self/mountinfo names it; a block-device FUSE FAT driver.
  EXPECT_EQ(creg::fatKindOf(kFuse, "fuse.fusefat"), FatKind::Fuse);
  EXPECT_EQ(creg::fatKindOf(kFuse, "fuseblk.FAT"), FatKind::Fuse);
  // Other FUSE file systems, and FUSE without a named driver (guestmount's
  // is plain "fuse", the kernel's vfat inside its appliance): what lies below
  // is not known, so the ioctls decide.
  EXPECT_EQ(creg::fatKindOf(kFuse, "fuse.sshfs"), FatKind::FuseUnnamed);
  EXPECT_EQ(creg::fatKindOf(kFuse, "fuse"), FatKind::FuseUnnamed);
  EXPECT_EQ(creg::fatKindOf(kFuse, ""), FatKind::FuseUnnamed);
  // A name with "fat" that is no FUSE mount is not trusted.
  EXPECT_EQ(creg::fatKindOf(kExt4, "fuse.fusefat"), FatKind::NotFat);
  EXPECT_EQ(creg::fatKindOf(kTmpfs, "tmpfs"), FatKind::NotFat);
}

TEST(FatAttributes, MountsAreFoundByDeviceNumber) {
  // As /proc/self/mountinfo gives them: optional fields before the "-",
  // octal escapes in paths, and one device mounted twice (the later wins).
  const std::string mountinfo =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 22 0:45 / /tmp/c\\040drive rw,nosuid,nodev,relatime - fuse.fusefat fusefat "
      "rw,user_id=0,group_id=0\n"
      "41 22 8:17 / /mnt/old rw shared:7 master:2 - vfat /dev/sdb1 rw,fmask=0022\n"
      "42 22 8:17 / /mnt/c rw shared:8 - vfat /dev/sdb1 rw\n"
      "bad line\n"
      "43 22 0:46 / /no-separator rw shared:9 fuse.x src rw";
  const auto fuse = creg::findMount(mountinfo, 0, 45);
  ASSERT_TRUE(fuse);
  EXPECT_EQ(fuse->type, "fuse.fusefat");
  EXPECT_EQ(fuse->mountPoint, "/tmp/c drive");
  const auto vfat = creg::findMount(mountinfo, 8, 17);
  ASSERT_TRUE(vfat);
  EXPECT_EQ(vfat->mountPoint, "/mnt/c");
  EXPECT_EQ(creg::findMount(mountinfo, 8, 1)->type, "ext4");
  // Unknown, and a line without the separator, are not found.
  EXPECT_FALSE(creg::findMount(mountinfo, 0, 46));
  EXPECT_FALSE(creg::findMount(mountinfo, 45, 0));
  EXPECT_FALSE(creg::findMount("", 0, 45));
}

TEST(FatAttributes, ThePlanFollowsTheFileSystemAndTheReadOfTheAttributes) {
  struct Row {
    const char* name;
    FatKind kind;
    int getError;
    AttributePlan plan;
  };
  const Row rows[] = {
      {"kernel FAT, read", FatKind::Kernel, 0, AttributePlan::Keep},
      {"kernel FAT, refused", FatKind::Kernel, EPERM, AttributePlan::CannotKeep},
      {"fusefat answers ENOTTY", FatKind::Fuse, ENOTTY, AttributePlan::CannotKeep},
      {"FUSE that would answer", FatKind::Fuse, 0, AttributePlan::Keep},
      {"guestmount answers ENOTTY", FatKind::FuseUnnamed, ENOTTY, AttributePlan::CannotKeep},
      {"a FUSE layer that passes them on", FatKind::FuseUnnamed, 0, AttributePlan::Keep},
      {"ext4 answers ENOTTY", FatKind::NotFat, ENOTTY, AttributePlan::NothingToKeep},
      {"old drivers answer EINVAL", FatKind::NotFat, EINVAL, AttributePlan::NothingToKeep},
  };
  for (const Row& row : rows)
    EXPECT_EQ(creg::planAttributes(row.kind, row.getError), row.plan) << row.name;
}

TEST(FatAttributes, TheNoticeNamesTheFileWhatIsLostAndHowToSetItBack) {
  const std::string attributes = creg::attributesNotKeptMessage(
      "/mnt/c/WINDOWS/SYSTEM.DAT", "/WINDOWS/SYSTEM.DAT", "it could not be set");
  for (const char* part : {
           "/mnt/c/WINDOWS/SYSTEM.DAT was written, but it could not be set",
           "hidden, system and read-only",
           "\n  mattrib -i IMAGE +h +s +r ::/WINDOWS/SYSTEM.DAT\nor under DOS: attrib +h +s +r "
           "SYSTEM.DAT in its folder.",
       })
    EXPECT_NE(attributes.find(part), std::string::npos) << part << "\nin:\n" << attributes;
  // The kernel's driver gives the new file its short name: no word of it.
  EXPECT_EQ(attributes.find("mren"), std::string::npos) << attributes;
  EXPECT_EQ(attributes.find("short name"), std::string::npos) << attributes;
  // A file in the root of the drive.
  const std::string root = creg::attributesNotKeptMessage("/m/SYSTEM.DAT", "/SYSTEM.DAT", "x");
  EXPECT_NE(root.find("mattrib -i IMAGE +h +s +r ::/SYSTEM.DAT\n"), std::string::npos) << root;
}

TEST(FatAttributes, TheRefusalOfAFuseFatDriveNamesTheFileTheDriverAndTheWayOut) {
  const std::string refusal = creg::fuseFatRefusal("/mnt/c/WINDOWS/SYSTEM.DAT", "fuse.fusefat");
  for (const char* part : {"/mnt/c/WINDOWS/SYSTEM.DAT is on a FAT drive mounted through FUSE "
                           "(fuse.fusefat)",
                           "nothing was changed", "mount -o loop,offset="})
    EXPECT_NE(refusal.find(part), std::string::npos) << part << "\nin:\n" << refusal;
}

}  // namespace
