// SYSTEM.DAT on disk: locked while open, written by an atomic replace that
// keeps the file's size and mode, and left untouched when refused or when
// nothing changed.
#include "platform/systemdat/system_dat_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/creg/system_registry.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_api.h"
#include "tests/platform/creg/creg_samples.h"
#include "tests/support/active_registry.h"
#include "tests/support/save_faults.h"
#include "tests/support/temp_dir.h"

namespace {

using creg::SystemDatFile;
using test_support::TempDir;

std::string asText(const std::vector<std::uint8_t>& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(SystemDatFile, RemovalsReachTheFileWhichStaysLockedAndKeepsItsMode) {
  TempDir dir;
  const auto path = dir / "SYSTEM.DAT";
  const std::string original = asText(creg_samples::sampleFile(creg_gen::Style::Packed, true));
  test_support::writeFile(path, original);
  ASSERT_EQ(::chmod(path.c_str(), 0440), 0);

  auto opened = SystemDatFile::open(path);
  ASSERT_TRUE(opened) << opened.error();
  SystemDatFile& file = *opened.value();
  EXPECT_EQ(file.profiles(), (std::vector<std::string>{"0001", "0002", "0003"}));
  auto second = SystemDatFile::open(path);
  ASSERT_FALSE(second);

  // Nothing changed: nothing written, not even the same bytes as a new file
  // (which would put its FAT attributes at risk). A store marked as changed
  // whose file would come out the same, and the same bytes as a replacement,
  // leave the file too.
  const auto inode = [&] {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
  };
  const ino_t first = inode();
  ASSERT_TRUE(file.flush());
  file.store().markDirty();
  ASSERT_TRUE(file.flush());
  EXPECT_FALSE(file.store().dirty());
  ASSERT_TRUE(file.replaceWith(std::vector<std::uint8_t>(original.begin(), original.end())));
  EXPECT_EQ(test_support::readFile(path), original);
  EXPECT_EQ(inode(), first) << "SYSTEM.DAT was replaced although nothing changed";

  {
    test_support::ScopedActiveRegistry active(&file.store());
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_CONFIG, "Enum\\ROOT\\OPT0930MEDIA\\0000"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Kivra\\Q76 Audio\\Part 4"),
              ERROR_SUCCESS);
  }
  ASSERT_TRUE(file.flush());
  // The store now holds what the file holds: the current configuration's
  // removal is gone from every profile in memory too.
  {
    const RegistryTree& tree = file.store().tree();
    KeyId config = tree.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "Config");
    for (const char* profile : {"0001", "0002", "0003"}) {
      KeyId key = tree.findSubkey(config, profile);
      for (const char* name : {"Enum", "ROOT", "OPT0930MEDIA"}) key = tree.findSubkey(key, name);
      ASSERT_NE(key, kNoKey) << profile;
      EXPECT_EQ(tree.findSubkey(key, "0000"), kNoKey) << profile;
    }
    auto asWritten = file.asWritten(tree);
    ASSERT_TRUE(asWritten) << asWritten.error();
    const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
    EXPECT_TRUE(creg::compareTrees(asWritten.value(), hklm, tree, hklm, "HKLM"));
  }
  const std::string written = test_support::readFile(path);
  EXPECT_NE(written, original);
  EXPECT_EQ(written.size(), original.size());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0440u);
  // The new file is the locked one.
  EXPECT_FALSE(SystemDatFile::open(path));
  EXPECT_FALSE(std::filesystem::exists(dir / ".SYSTEM.DAT.uinq76-tmp"));
  // Off a FAT drive there are no DOS attributes to lose, and nothing to tell.
  EXPECT_TRUE(file.takeNotices().empty());

  // A second change is written from the file as first read, with both.
  {
    test_support::ScopedActiveRegistry active(&file.store());
    ASSERT_EQ(RegDeleteValueA(HKEY_LOCAL_MACHINE, "nothing"), ERROR_FILE_NOT_FOUND);
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kivra\\Q76 Audio", 0, KEY_ALL_ACCESS, &key),
        ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key, "Version"), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ASSERT_TRUE(file.close());
  auto reread = SystemDatFile::open(path);
  ASSERT_TRUE(reread) << reread.error();
  const RegistryTree& tree = reread.value()->store().tree();
  const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
  const KeyId audio =
      tree.findSubkey(tree.findSubkey(tree.findSubkey(hklm, "Software"), "Kivra"), "Q76 Audio");
  EXPECT_FALSE(tree.findValue(audio, "Version"));
  EXPECT_EQ(tree.findSubkey(audio, "Part 4"), kNoKey);
  EXPECT_NE(tree.findSubkey(audio, "Part 13"), kNoKey);
  const KeyId cc = RegistryTree::rootKey(RootKey::CurrentConfig);
  const KeyId device =
      tree.findSubkey(tree.findSubkey(tree.findSubkey(cc, "Enum"), "ROOT"), "OPT0930MEDIA");
  EXPECT_EQ(tree.findSubkey(device, "0000"), kNoKey);
}

// A file that fails the check is refused with its name and left as it was.
TEST(SystemDatFile, ABadFileIsRefusedAndLeftByteIdentical) {
  TempDir dir;
  const auto path = dir / "SYSTEM.DAT";
  auto bytes = creg_samples::sampleFile(creg_gen::Style::FreeRecords, false);
  bytes[0x20 + 0x30] ^= 0x40;  // The root entry's first-child link.
  const std::string spoiled = asText(bytes);
  test_support::writeFile(path, spoiled);
  auto opened = SystemDatFile::open(path);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().rfind(path.string() + ": offset 0x", 0), 0u) << opened.error();
  EXPECT_EQ(test_support::readFile(path), spoiled);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

// A replace that fails halfway, or stops before its rename, leaves the old
// file and keeps the changes pending for the next flush.
TEST(SystemDatFile, AFailedWriteLeavesTheOldFile) {
  for (const auto fault : {save_faults::Fault::FailWrite, save_faults::Fault::FailRename}) {
    TempDir dir;
    const auto path = dir / "SYSTEM.DAT";
    const std::string original = asText(creg_samples::sampleFile(creg_gen::Style::Packed, false));
    test_support::writeFile(path, original);
    auto opened = SystemDatFile::open(path);
    ASSERT_TRUE(opened);
    {
      test_support::ScopedActiveRegistry active(&opened.value()->store());
      ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Kivra\\Q76 Audio\\Part 4"),
                ERROR_SUCCESS);
    }
    auto flushed = [&] {
      const save_faults::Planted planted(fault, "uinq76-tmp");
      return opened.value()->flush();
    }();
    ASSERT_FALSE(flushed);
    EXPECT_NE(flushed.error().find("SYSTEM.DAT"), std::string::npos) << flushed.error();
    EXPECT_EQ(test_support::readFile(path), original);
    EXPECT_TRUE(opened.value()->store().dirty());
    ASSERT_TRUE(opened.value()->flush());
    EXPECT_NE(test_support::readFile(path), original);
    EXPECT_FALSE(std::filesystem::exists(dir / ".SYSTEM.DAT.uinq76-tmp"));
  }
}

// The store is the file's registry as reading it gives it, both roots: for
// files of both styles, with checksums or without, keys in small or large
// blocks, a name in Windows-1252, three hardware profiles, and the fuzz
// corpus's files.
TEST(SystemDatFile, TheStoreHoldsWhatReadingTheFileGives) {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  for (const auto style : {creg_gen::Style::Packed, creg_gen::Style::FreeRecords}) {
    for (const bool checksums : {true, false}) {
      for (const std::uint32_t blockSize : {0x1000u, 0xF000u})
        files.emplace_back("generated", creg_samples::sampleFile(style, checksums, blockSize));
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(UINQ_CREG_CORPUS)) {
    const std::string bytes = test_support::readFile(entry.path());
    files.emplace_back(entry.path().filename().string(),
                       std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  ASSERT_GE(files.size(), 12u);
  for (const auto& [name, bytes] : files) {
    TempDir dir;
    const auto path = dir / "SYSTEM.DAT";
    test_support::writeFile(path, asText(bytes));
    auto read = creg::SystemRegistry::read(bytes, path.string());
    ASSERT_TRUE(read) << name << ": " << read.error();
    ASSERT_FALSE(read.value().profiles().empty()) << name;
    auto opened = SystemDatFile::open(path);
    ASSERT_TRUE(opened) << name << ": " << opened.error();
    const RegistryTree& tree = opened.value()->store().tree();
    for (const RootKey root : {RootKey::LocalMachine, RootKey::CurrentConfig}) {
      const KeyId key = RegistryTree::rootKey(root);
      EXPECT_TRUE(creg::compareTrees(tree, key, read.value().tree(), key, "ROOT")) << name;
    }
  }
}

// After each flush the store holds what a reading of the new file gives, in
// both roots, whichever way the profiles came to differ: through
// HKEY_CURRENT_CONFIG (all profiles), through one profile (the others keep
// it in HKEY_CURRENT_CONFIG), through each profile in turn (then it leaves
// HKEY_CURRENT_CONFIG too), and keys outside Config; for files of both styles
// and block sizes.
TEST(SystemDatFile, AfterEachFlushTheStoreIsWhatTheFileReadsAs) {
  using Change = std::function<LONG()>;
  const auto deleteKey = [](HKEY root, const char* path) {
    return Change([=] { return RegDeleteKeyA(root, path); });
  };
  const auto deleteValue = [](HKEY root, const char* path, const char* name) {
    return Change([=] {
      HKEY key = nullptr;
      if (const LONG opened = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
          opened != ERROR_SUCCESS)
        return opened;
      const LONG deleted = RegDeleteValueA(key, name);
      RegCloseKey(key);
      return deleted;
    });
  };
  const std::vector<std::vector<Change>> rounds{
      {deleteKey(HKEY_CURRENT_CONFIG, "Enum\\ROOT\\OPT0930MEDIA\\0000"),
       deleteValue(HKEY_LOCAL_MACHINE, "Config\\0002\\Display\\Settings", "Resolution"),
       deleteKey(HKEY_LOCAL_MACHINE, "Config\\0003\\Enum\\ROOT\\*PNP0C01\\0000"),
       deleteKey(HKEY_LOCAL_MACHINE, "Software\\Kivra\\Q76 Audio\\Part 4")},
      {deleteValue(HKEY_CURRENT_CONFIG, "Display\\Settings", "Resolution"),
       deleteKey(HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\ROOT\\*PNP0C01\\0000"),
       deleteValue(HKEY_LOCAL_MACHINE, "Software\\Kivra\\Q76 Audio", "Version")},
      {deleteKey(HKEY_CURRENT_CONFIG, "Enum\\ROOT\\*PNP0C01\\0000"),
       deleteKey(HKEY_LOCAL_MACHINE, "Config\\0002\\Display\\Settings")},
      {deleteKey(HKEY_LOCAL_MACHINE, "Config\\0002\\Display"),
       deleteKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\*PNP0C01\\0000")},
      {deleteKey(HKEY_LOCAL_MACHINE, "Config\\0001\\Display\\Settings"),
       deleteKey(HKEY_LOCAL_MACHINE, "Config\\0003\\Display\\Settings")},
  };
  for (const auto style : {creg_gen::Style::Packed, creg_gen::Style::FreeRecords}) {
    for (const std::uint32_t blockSize : {0x1000u, 0xF000u}) {
      TempDir dir;
      const auto path = dir / "SYSTEM.DAT";
      test_support::writeFile(path, asText(creg_samples::sampleFile(style, true, blockSize)));
      auto opened = SystemDatFile::open(path);
      ASSERT_TRUE(opened) << opened.error();
      SystemDatFile& file = *opened.value();
      for (std::size_t round = 0; round < rounds.size(); ++round) {
        {
          test_support::ScopedActiveRegistry active(&file.store());
          for (const Change& change : rounds[round]) ASSERT_EQ(change(), ERROR_SUCCESS) << round;
        }
        ASSERT_TRUE(file.flush()) << round;
        const std::string bytes = test_support::readFile(path);
        auto read = creg::SystemRegistry::read(
            std::vector<std::uint8_t>(bytes.begin(), bytes.end()), path.string());
        ASSERT_TRUE(read) << read.error();
        const RegistryTree& tree = file.store().tree();
        for (const RootKey root : {RootKey::LocalMachine, RootKey::CurrentConfig}) {
          const KeyId key = RegistryTree::rootKey(root);
          EXPECT_TRUE(creg::compareTrees(tree, key, read.value().tree(), key, "ROOT")) << round;
        }
        EXPECT_EQ(writeRegedit4(tree), writeRegedit4(read.value().tree())) << round;
      }
      // HKEY_CURRENT_CONFIG keeps a key while some profile has it: Display,
      // which 0001 and 0003 still have; Settings, the last profile's gone, is gone.
      const RegistryTree& tree = file.store().tree();
      const KeyId display =
          tree.findSubkey(RegistryTree::rootKey(RootKey::CurrentConfig), "Display");
      ASSERT_NE(display, kNoKey);
      EXPECT_EQ(tree.findSubkey(display, "Settings"), kNoKey);
    }
  }
}

// A name the registry cannot carry (a NUL byte ends it for the Reg*A
// functions, a line feed ends a line of the backup's text) and a key deeper
// than 512 levels are refused at their place in the file, and the file is
// left as it was.
TEST(SystemDatFile, ANameOrDepthTheRegistryCannotCarryIsRefusedAtItsOffset) {
  const struct {
    std::string_view keyName, valueName;
    int depth;
    const char* says;
  } cases[] = {{std::string_view("Nul\0Key", 7), "Value", 1, "a key name holds a NUL byte"},
               {"Key", "Line\nFeed", 1, "has a value whose name holds a NUL byte or a line feed"},
               {"Deep", "Value", 513, "levels below the root"}};
  for (const auto& c : cases) {
    auto store = creg_samples::sampleStore();
    RegistryTree& sample = store->tree();
    KeyId key = sample.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "Software");
    key = sample.findOrAddSubkey(key, c.keyName);
    for (int level = 2; level < c.depth; ++level) key = sample.findOrAddSubkey(key, "k");
    sample.setValue(key, c.valueName, REG_SZ, std::string_view("1", 2));
    auto bytes = creg_gen::generate(sample, RegistryTree::rootKey(RootKey::LocalMachine), {});
    ASSERT_TRUE(bytes) << bytes.error();
    TempDir dir;
    const auto path = dir / "SYSTEM.DAT";
    const std::string original = asText(bytes.value());
    test_support::writeFile(path, original);
    auto opened = SystemDatFile::open(path);
    ASSERT_FALSE(opened) << c.says;
    EXPECT_EQ(opened.error().rfind(path.string() + ": offset 0x", 0), 0u) << opened.error();
    EXPECT_NE(opened.error().find(c.says), std::string::npos) << opened.error();
    EXPECT_EQ(opened.error().find(": line "), std::string::npos) << opened.error();
    EXPECT_EQ(test_support::readFile(path), original);
  }
}

}  // namespace
