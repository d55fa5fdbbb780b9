#include "platform/fs/find_file.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/fs/wildcard.h"
#include "tests/platform/fs/machine_fixture.h"

namespace {

// The names a whole search returns, in order; empty when FindFirstFileA fails.
std::vector<std::string> findAll(const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(data.cFileName);
  } while (FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  return names;
}

using Names = std::vector<std::string>;

}  // namespace

using FindFile = MachineTest;

TEST_F(FindFile, MatchesOemPatternInByteOrder) {
  for (const char* name : {"XOEM4.INF", "OEM5.INF.BAK", "OEM.INF", "OEM10.INF", "OEM6", "oem2.inf",
                           "OEM1.INF", "OEM3.INFX"}) {
    writeBytes(c(std::string("dir/") + name), "x");
  }
  std::filesystem::create_directory(c("dir/OEM7.INF"));
  // Case is ignored in matching and kept in the names; folders come back too.
  EXPECT_EQ(findAll("C:\\DIR\\OEM*.INF"),
            (Names{"OEM.INF", "OEM1.INF", "OEM10.INF", "OEM7.INF", "oem2.inf"}));
  EXPECT_EQ(findAll("c:\\dir\\oem*.inf"), findAll("C:\\DIR\\OEM*.INF"));
  // '?' may stand for no character before the dot, as on Windows.
  EXPECT_EQ(findAll("C:\\DIR\\OEM?.INF"), (Names{"OEM.INF", "OEM1.INF", "OEM7.INF", "oem2.inf"}));
  EXPECT_EQ(findAll("C:\\DIR\\OEM??.INF"),
            (Names{"OEM.INF", "OEM1.INF", "OEM10.INF", "OEM7.INF", "oem2.inf"}));
  // "OEM*." finds only names without an extension.
  EXPECT_EQ(findAll("C:\\DIR\\OEM*."), (Names{"OEM6"}));
  // "*.*" finds everything, "." and ".." included outside the root.
  EXPECT_EQ(findAll("C:\\DIR\\*.*").size(), 11u);
  EXPECT_EQ(findAll("C:\\DIR\\*").front(), ".");
  // A drive's root has no "." and "..".
  EXPECT_EQ(findAll("C:\\*"), (Names{"dir"}));
}

TEST_F(FindFile, ReportsFailuresAndLeavesDataUntouched) {
  writeBytes(c("INF/OEM1.INF"), "x");
  WIN32_FIND_DATAA data;
  std::memset(&data, 0xCC, sizeof data);
  // No match: ERROR_FILE_NOT_FOUND.
  EXPECT_EQ(FindFirstFileA("C:\\INF\\NOPE*.INF", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A missing folder: ERROR_PATH_NOT_FOUND.
  EXPECT_EQ(FindFirstFileA("C:\\NODIR\\OEM*.INF", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A pattern of MAX_PATH characters or more.
  const std::string long_pattern = "C:\\" + std::string(300, 'a') + "\\*";
  EXPECT_EQ(FindFirstFileA(long_pattern.c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(static_cast<unsigned char>(data.cFileName[0]), 0xCC);

  HANDLE h = FindFirstFileA("C:\\INF\\OEM*.INF", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "OEM1.INF");
  EXPECT_EQ(data.nFileSizeLow, 1u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(data.cAlternateFileName[0], '\0');
  // The end of the search leaves the data as it was.
  std::memset(&data, 0xCC, sizeof data);
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(static_cast<unsigned char>(data.cFileName[0]), 0xCC);
  EXPECT_TRUE(FindClose(h));
  // A closed handle is no longer valid.
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(h));
}

TEST_F(FindFile, PassesOverWhatAWindowsPathCannotReach) {
  writeBytes(c("INF/OEM1.INF"), "x");
  writeBytes(c("INF/OEM\\2.INF"), "x");
  writeBytes(c("INF/OEM:3.INF"), "x");
  writeBytes(m_machine / "outside.inf", "o");
  std::filesystem::create_symlink(m_machine / "outside.inf", c("INF/OEM4.INF"));
  std::filesystem::create_symlink("OEM1.INF", c("INF/OEM5.INF"));
  // Names with a backslash or colon, and links out of the drive, are left out.
  EXPECT_EQ(findAll("C:\\INF\\OEM*.INF"), (Names{"OEM1.INF", "OEM5.INF"}));
}

TEST_F(FindFile, KeepsItsEntriesWhenFilesAreDeleted) {
  writeBytes(c("INF/OEM1.INF"), "x");
  writeBytes(c("INF/OEM2.INF"), "x");
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\INF\\OEM*.INF", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::filesystem::remove(c("INF/OEM1.INF"));
  ASSERT_TRUE(FindNextFileA(h, &data));
  EXPECT_STREQ(data.cFileName, "OEM2.INF");
  FindClose(h);
}

TEST(Wildcard, FollowsTheDosDialect) {
  // '*' before a dot stops at the last dot of the name.
  EXPECT_TRUE(matchesWildcard("*.INF", "a.b.inf"));
  EXPECT_FALSE(matchesWildcard("*.INF", "OEM3.INFX"));
  // A plain '*' runs over dots.
  EXPECT_TRUE(matchesWildcard("A*", "a.b.c"));
  // '?' is exactly one character inside a name.
  EXPECT_FALSE(matchesWildcard("A?C", "AC"));
  EXPECT_TRUE(matchesWildcard("A?C", "AbC"));
  // "*.*" and "name.*" also find names without a dot.
  EXPECT_TRUE(matchesWildcard("*.*", "OEM6"));
  EXPECT_TRUE(matchesWildcard("OEM6.*", "OEM6"));
  // Bytes of 128 and above compare exactly.
  EXPECT_FALSE(matchesWildcard("\xE9*", "\xC9X"));
}
