// The temporary directory every test relies on to leave nothing behind.
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

TEST(TempDir, PrivateUniqueAndGoneWithWhatTheTestMadeReadOnly) {
  fs::path first_path;
  {
    test_support::TempDir first("uinq76-selftest");
    test_support::TempDir second("uinq76-selftest");
    first_path = first.path();
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(fs::is_empty(first.path()));
    EXPECT_EQ(fs::status(first.path()).permissions() & fs::perms::all, fs::perms::owner_all);
    // A locked folder with a read-only file in it, as the file tests leave.
    test_support::writeFile(first / "locked/deeper/file.txt", "x");
    EXPECT_EQ(test_support::readFile(first / "locked/deeper/file.txt"), "x");
    fs::permissions(first / "locked/deeper/file.txt", fs::perms::owner_read);
    fs::permissions(first / "locked/deeper", fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(first / "locked", fs::perms::none);
  }
  EXPECT_FALSE(fs::exists(first_path));
}

}  // namespace
