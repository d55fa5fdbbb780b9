#include "platform/fs/file_ops.h"

#include <cstring>

#include "platform/fs/file_replace.h"
#include "platform/fs/windows_directory.h"
#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

using FileOps = MachineTest;

TEST_F(FileOps, DeleteFileRefusesWhatWindowsRefuses) {
  writeBytes(c("a.txt"), "a");
  writeBytes(c("ro.txt"), "r");
  makeReadOnly(c("ro.txt"));
  fs::create_directory(c("dir"));
  // A file in any letter case is deleted.
  EXPECT_TRUE(DeleteFileA("C:\\A.TXT"));
  EXPECT_FALSE(fs::exists(c("a.txt")));
  // A missing file, then a missing folder.
  EXPECT_FALSE(DeleteFileA("C:\\A.TXT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA("C:\\NODIR\\A.TXT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A read-only file stays, also for root.
  EXPECT_FALSE(DeleteFileA("C:\\RO.TXT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(readBytes(c("ro.txt")), "r");
  // A folder is not a file.
  EXPECT_FALSE(DeleteFileA("C:\\DIR"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::is_directory(c("dir")));
  // A link is deleted itself; what it names outside the drive stays.
  writeBytes(m_machine / "outside.txt", "o");
  fs::create_symlink(m_machine / "outside.txt", c("link.txt"));
  EXPECT_TRUE(DeleteFileA("C:\\LINK.TXT"));
  EXPECT_EQ(readBytes(m_machine / "outside.txt"), "o");
}

TEST_F(FileOps, MoveFileNeverReplaces) {
  writeBytes(c("a.txt"), "a");
  writeBytes(c("b.txt"), "b");
  // An existing target, also in another letter case, fails and keeps both.
  EXPECT_FALSE(MoveFileA("C:\\a.txt", "C:\\b.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(MoveFileA("C:\\a.txt", "C:\\B.TXT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(readBytes(c("a.txt")), "a");
  EXPECT_EQ(readBytes(c("b.txt")), "b");
  // A missing source; a missing target folder.
  EXPECT_FALSE(MoveFileA("C:\\none.txt", "C:\\c.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileA("C:\\a.txt", "C:\\nodir\\c.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // Another drive is another device, as on Windows for a folder.
  fs::create_directory(m_machine / "drive_d");
  EXPECT_FALSE(MoveFileA("C:\\a.txt", "D:\\a.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
  // A rename into another folder keeps the new spelling.
  fs::create_directory(c("sub"));
  EXPECT_TRUE(MoveFileA("C:\\A.TXT", "C:\\SUB\\New.Txt"));
  EXPECT_EQ(readBytes(c("sub/New.Txt")), "a");
  // Onto itself in another case: only the case of the name changes.
  EXPECT_TRUE(MoveFileA("C:\\sub\\new.txt", "C:\\SUB\\NEW.TXT"));
  EXPECT_EQ(readBytes(c("sub/NEW.TXT")), "a");
  EXPECT_FALSE(fs::exists(c("sub/New.Txt")));
}

TEST_F(FileOps, ReplaceIsRefusedWhereDeletingWouldBe) {
  writeBytes(c("new.tmp"), "new");
  writeBytes(c("old.txt"), "old");
  writeBytes(c("ro.txt"), "ro");
  makeReadOnly(c("ro.txt"));
  fs::create_directory(c("dir.txt"));
  // A read-only target and a folder stay, and so does the replacement.
  EXPECT_FALSE(replaceFileWithCopy("C:\\new.tmp", "C:\\ro.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(replaceFileWithCopy("C:\\new.tmp", "C:\\dir.txt"));
  EXPECT_EQ(readBytes(c("ro.txt")), "ro");
  EXPECT_TRUE(fs::is_directory(c("dir.txt")));
  EXPECT_EQ(readBytes(c("new.tmp")), "new");
  // A missing replacement.
  EXPECT_FALSE(replaceFileWithCopy("C:\\none.tmp", "C:\\old.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // The target keeps its spelling and gets the replacement's text.
  EXPECT_TRUE(replaceFileWithCopy("C:\\NEW.TMP", "C:\\OLD.TXT"));
  EXPECT_EQ(readBytes(c("old.txt")), "new");
  EXPECT_FALSE(fs::exists(c("new.tmp")));
}

TEST_F(FileOps, WindowsDirectoryComesFromMsdosSys) {
  char buf[64];
  // Without C:\MSDOS.SYS: C:\WINDOWS.
  std::memset(buf, 0xCC, sizeof buf);
  EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 10u);
  EXPECT_STREQ(buf, "C:\\WINDOWS");
  // The recorded WinDir, in any case of section and key, without its trailing backslash.
  writeBytes(c("msdos.sys"), "[Options]\r\nBootGUI=1\r\n[paths]\r\nwindir = D:\\WIN95\\\r\n");
  EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 8u);
  EXPECT_STREQ(buf, "D:\\WIN95");
  // A buffer too small gets the size needed with the zero, and stays untouched.
  std::memset(buf, 0xCC, sizeof buf);
  EXPECT_EQ(GetWindowsDirectoryA(buf, 8), 9u);
  EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xCC);
  EXPECT_EQ(GetWindowsDirectoryA(nullptr, 0), 9u);
  EXPECT_EQ(GetWindowsDirectoryA(buf, 9), 8u);
  // Values that are not a folder on a drive fall back to C:\WINDOWS.
  for (const char* bad : {"WINDOWS", "C:WINDOWS", "C:\\", "\\\\server\\win", "C:\\WIN*"}) {
    writeBytes(c("MSDOS.SYS"), std::string("[Paths]\r\nWinDir=") + bad + "\r\n");
    EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 10u) << bad;
    EXPECT_STREQ(buf, "C:\\WINDOWS") << bad;
  }
}
