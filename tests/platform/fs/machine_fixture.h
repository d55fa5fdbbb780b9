// A machine directory of its own for each test, so tests run in parallel; it
// goes with the fixture, also when an assertion fails.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/fs/drives.h"
#include "tests/support/temp_dir.h"

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(m_machine / "drive_c");
    setMachineDirectory(m_machine);
  }
  void TearDown() override {
    setMachineDirectory({});
    clearDriveFolders();
  }

  // The host path of a path relative to drive C:'s folder.
  std::filesystem::path c(const std::string& relative) const {
    return m_machine / "drive_c" / relative;
  }

  static void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    test_support::writeFile(path, bytes);
  }
  static std::string readBytes(const std::filesystem::path& path) {
    return test_support::readFile(path);
  }
  static void makeReadOnly(const std::filesystem::path& path) {
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }

  test_support::TempDir m_dir{"uinq76-fs"};
  const std::filesystem::path m_machine = m_dir.path();
};
