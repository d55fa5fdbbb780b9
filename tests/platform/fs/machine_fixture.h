// A machine directory of its own for each test, so tests run in parallel.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/fs/drives.h"

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "uinq-fs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_machine = pattern;
    std::filesystem::create_directories(m_machine / "drive_c");
    SetMachineDirectory(m_machine);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(m_machine, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_machine, ec);
    SetMachineDirectory({});
  }

  // The host path of a path relative to drive C:'s folder.
  std::filesystem::path c(const std::string& relative) const {
    return m_machine / "drive_c" / relative;
  }

  static void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  static std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void makeReadOnly(const std::filesystem::path& path) {
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }

  std::filesystem::path m_machine;
};
