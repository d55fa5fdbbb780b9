// The machine in its two forms: a machine directory, and the root of a
// Windows 95 drive C: whose SYSTEM.DAT is the registry. What is refused before
// anything is changed, the lock held while it is open, and the registry
// written and let go at the close.
#include "shell/host/machine.h"

#include <gtest/gtest.h>

#include "platform/creg/creg_check.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "shell/host/host_options.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_machine.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::TempDir;

TEST(HostOptions, DrivesAreGivenByLetterOnce) {
  auto parse = [](std::vector<const char*> args) { return parseHostOptions(args); };
  const auto given = parse({"--drive", "d:=/mnt/d", "--drive=E:=/mnt/e=x"});
  ASSERT_TRUE(given) << given.error();
  ASSERT_EQ(given.value().drives.size(), 2u);
  EXPECT_EQ(given.value().drives[0].first, 'D');
  EXPECT_EQ(given.value().drives[0].second, "/mnt/d");
  EXPECT_EQ(given.value().drives[1].second, "/mnt/e=x");
  for (const auto& bad : std::vector<std::vector<const char*>>{
           {"--drive", "D:"}, {"--drive", "/mnt/d"}, {"--drive", "1:=/x"}})
    EXPECT_NE(parse(bad).error().find("--drive needs a drive letter"), std::string::npos);
  EXPECT_NE(parse({"--drive", "C:=/x"}).error().find("--machine"), std::string::npos);
  EXPECT_NE(parse({"--drive", "D:=/x", "--drive", "d:=/y"}).error().find("given twice"),
            std::string::npos);
  EXPECT_NE(usageText().find("--drive D:=PATH"), std::string::npos);
}

class WindowsDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(demo::writeWin9xDrive(m_drive).has_value());
    for (const char* name : {"WINDOWS/SYSTEM.DAT", "WINDOWS/SYSTEM.DA0", "WINDOWS/USER.DAT",
                             "WINDOWS/USER.DA0", "SYSTEM.1ST"})
      m_before[name] = readFile(m_drive / name);
  }

  TempDir m_temp{"uinq76-drive"};
  const fs::path m_drive = m_temp / "c";
  std::map<std::string, std::string> m_before;
};

TEST_F(WindowsDrive, OpensChangesByDeletionAndLeavesWindowsOwnCopies) {
  auto opened = Machine::open(m_drive, "--machine DIR");
  ASSERT_TRUE(opened) << opened.error();
  Machine& machine = *opened.value();
  EXPECT_TRUE(machine.isWindowsDrive());
  EXPECT_EQ(machine.description(),
            "a Windows 95 drive C: (C:\\WINDOWS\\SYSTEM.DAT, hardware profiles 0001, 0002)");
  EXPECT_FALSE(Machine::open(m_drive, "--machine DIR")) << "a second run on the same disk";
  // The registry functions and the drive are the disk's.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76\\Mixer"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"), ERROR_SUCCESS);
  ASSERT_TRUE(machine.flush());
  ASSERT_TRUE(machine.close());

  const std::string after = readFile(m_drive / "WINDOWS/SYSTEM.DAT");
  EXPECT_NE(after, m_before["WINDOWS/SYSTEM.DAT"]);
  EXPECT_EQ(after.size(), m_before["WINDOWS/SYSTEM.DAT"].size());
  const std::vector<std::uint8_t> bytes(after.begin(), after.end());
  EXPECT_TRUE(creg::checkFile(bytes, "SYSTEM.DAT"));
  for (const char* name :
       {"WINDOWS/SYSTEM.DA0", "WINDOWS/USER.DAT", "WINDOWS/USER.DA0", "SYSTEM.1ST"})
    EXPECT_EQ(readFile(m_drive / name), m_before[name]) << name;
  EXPECT_EQ(ActiveRegistry(), nullptr);
}

// Nothing changed: nothing written, nothing left behind.
TEST_F(WindowsDrive, ARunThatChangesNothingLeavesTheDriveAsItWas) {
  std::vector<fs::path> entries;
  for (const auto& e : fs::recursive_directory_iterator(m_drive)) entries.push_back(e.path());
  {
    auto opened = Machine::open(m_drive, "--machine DIR");
    ASSERT_TRUE(opened) << opened.error();
    ASSERT_TRUE(opened.value()->close());
  }
  std::vector<fs::path> now;
  for (const auto& e : fs::recursive_directory_iterator(m_drive)) now.push_back(e.path());
  EXPECT_EQ(now, entries);
  EXPECT_EQ(readFile(m_drive / "WINDOWS/SYSTEM.DAT"), m_before["WINDOWS/SYSTEM.DAT"]);
}

// The Windows directory on another drive needs that drive; a bad registry file
// is refused with its offset and left as it was; a folder of neither form is
// named with what was looked for.
TEST_F(WindowsDrive, WhatCannotBeOpenedIsRefusedWithoutAChange) {
  test_support::writeFile(m_drive / "MSDOS.SYS", "[Paths]\r\nWinDir=D:\\WIN95\r\n");
  auto opened = Machine::open(m_drive, "--machine DIR");
  ASSERT_FALSE(opened);
  EXPECT_NE(opened.error().find("on drive D:, which was not given; give it with --drive D:=PATH"),
            std::string::npos)
      << opened.error();
  const fs::path d = m_temp / "d";
  fs::create_directories(d / "win95");
  fs::copy_file(m_drive / "WINDOWS/SYSTEM.DAT", d / "win95/system.dat");
  opened = Machine::open(m_drive, "--machine DIR", {{'D', d}});
  ASSERT_TRUE(opened) << opened.error();
  ASSERT_TRUE(opened.value()->close());

  std::string spoiled = m_before["WINDOWS/SYSTEM.DAT"];
  spoiled[0x24] ^= 0x10;  // The RGKN size.
  test_support::writeFile(d / "win95/system.dat", spoiled);
  opened = Machine::open(m_drive, "--machine DIR", {{'D', d}});
  ASSERT_FALSE(opened);
  EXPECT_NE(opened.error().find("system.dat: offset 0x8: the first RGDB block is said to be at"),
            std::string::npos)
      << opened.error();
  EXPECT_EQ(readFile(d / "win95/system.dat"), spoiled);

  fs::create_directories(m_temp / "empty");
  opened = Machine::open(m_temp / "empty", "--machine DIR");
  ASSERT_FALSE(opened);
  EXPECT_NE(opened.error().find("neither a machine directory (no registry.reg) nor a Windows 95 "
                                "drive C: (no MSDOS.SYS)"),
            std::string::npos)
      << opened.error();
}

TEST(Machine, AMissingFolderOrRegistryIsRefusedWithTheWayToNameAnother) {
  TempDir dir{"uinq76-machine"};
  const auto missing = Machine::open(dir / "none", "--machine DIR");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().find("none does not exist; name one with --machine DIR"),
            std::string::npos)
      << missing.error();
  const auto empty = Machine::open(dir.path(), "--machine DIR");
  ASSERT_FALSE(empty);
  EXPECT_NE(
      empty.error().find(
          "neither a machine directory (no registry.reg) nor a Windows 95 drive C: (no MSDOS.SYS)"),
      std::string::npos)
      << empty.error();
  EXPECT_EQ(ActiveRegistry(), nullptr);
}

TEST(Machine, HoldsTheRegistryWhileOpenAndWritesItAtTheClose) {
  TempDir dir{"uinq76-machine"};
  ASSERT_FALSE(demo::writeDemoMachine(dir.path()).has_value());
  auto opened = Machine::open(dir.path(), "--machine DIR");
  ASSERT_TRUE(opened) << opened.error();
  Machine& machine = *opened.value();
  EXPECT_EQ(ActiveRegistry(), &machine.store());
  // A second program finds the registry in use.
  const auto second = Machine::open(dir.path(), "--machine DIR");
  ASSERT_FALSE(second);
  EXPECT_NE(second.error().find("in use by another program"), std::string::npos) << second.error();

  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ50"), ERROR_SUCCESS);
  ASSERT_TRUE(machine.close());
  EXPECT_EQ(ActiveRegistry(), nullptr);
  // The change is in the file, and the file opens again.
  const std::string text = test_support::readFile(dir / "registry.reg");
  EXPECT_EQ(text.find("KivraQ50"), std::string::npos);
  EXPECT_NE(text.find("KivraQ76"), std::string::npos);
  auto again = Machine::open(dir.path(), "--machine DIR");
  ASSERT_TRUE(again) << again.error();
  EXPECT_TRUE(again.value()->close());
}

}  // namespace
}  // namespace host
