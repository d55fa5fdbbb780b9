#include "platform/fs/drives.h"

#include <unistd.h>

#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

using PathResolution = MachineTest;

TEST_F(PathResolution, FindsNamesWithoutRegardToCase) {
  writeBytes(c("Windows/Inf/oem1.inf"), "x");
  // Every component matches in any letter case and keeps its on-disk spelling.
  ResolvedPath r = resolveWindowsPath("c:\\WINDOWS\\inf\\OEM1.INF", LastComponent::Follow);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r.exists);
  EXPECT_EQ(r.host, fs::canonical(c("Windows/Inf/oem1.inf")));
  // Forward slashes separate components as backslashes do.
  r = resolveWindowsPath("C:/windows/inf/oem1.inf", LastComponent::Follow);
  EXPECT_TRUE(r.exists);
  // A new file keeps the spelling given; its folder resolves in any case.
  r = resolveWindowsPath("C:\\WINDOWS\\INF\\New.Inf", LastComponent::Follow);
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(r.exists);
  EXPECT_EQ(r.host.filename(), "New.Inf");
  EXPECT_EQ(r.parent, fs::canonical(c("Windows/Inf")));
  // A missing folder before the last component fails.
  r = resolveWindowsPath("C:\\NOPE\\FILE.TXT", LastComponent::Follow);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A drive without a folder fails the same way.
  EXPECT_EQ(resolveWindowsPath("Q:\\X", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(PathResolution, PrefersExactSpellingThenByteOrder) {
  writeBytes(c("b.txt"), "lower");
  writeBytes(c("B.txt"), "upper");
  writeBytes(c("b.TXT"), "mixed");
  // The exact spelling wins where two names differ only in case.
  EXPECT_EQ(resolveWindowsPath("C:\\b.TXT", LastComponent::Follow).host.filename(), "b.TXT");
  // Otherwise the first in byte order: "B.txt" < "b.TXT" < "b.txt".
  EXPECT_EQ(resolveWindowsPath("C:\\B.TXT", LastComponent::Follow).host.filename(), "B.txt");
}

TEST_F(PathResolution, StaysInsideTheDrive) {
  writeBytes(m_machine / "secret.txt", "s");
  writeBytes(c("dir/in.txt"), "i");
  // ".." stops at the drive's root, "." is dropped.
  ResolvedPath r =
      resolveWindowsPath("C:\\..\\..\\.\\dir\\..\\..\\dir\\in.txt", LastComponent::Follow);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.host, fs::canonical(c("dir/in.txt")));
  // ".." is taken on the text, so a link followed by ".." does not leave.
  fs::create_directory_symlink(m_machine, c("up"));
  EXPECT_FALSE(resolveWindowsPath("C:\\up\\..\\secret.txt", LastComponent::Follow).exists);
  // A link that leads outside the drive is refused, as a folder or as a file.
  fs::create_symlink(m_machine / "secret.txt", c("out.txt"));
  EXPECT_EQ(resolveWindowsPath("C:\\up\\secret.txt", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(resolveWindowsPath("C:\\OUT.TXT", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Not following the last link names the link itself.
  r = resolveWindowsPath("C:\\OUT.TXT", LastComponent::DoNotFollow);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.host, fs::canonical(c("")) / "out.txt");
  // A link inside the drive is followed.
  fs::create_symlink("dir/in.txt", c("alias.txt"));
  EXPECT_EQ(resolveWindowsPath("C:\\ALIAS.TXT", LastComponent::Follow).host,
            fs::canonical(c("dir/in.txt")));
  // The drive's folder itself may be a link, to a mount point for example.
  fs::create_directories(m_machine / "mnt/d");
  fs::create_directory_symlink(m_machine / "mnt/d", m_machine / "drive_d");
  writeBytes(m_machine / "mnt/d/f.txt", "d");
  EXPECT_TRUE(resolveWindowsPath("d:\\F.TXT", LastComponent::Follow).exists);
}

TEST_F(PathResolution, RefusesMalformedPaths) {
  // MAX_PATH characters or more.
  EXPECT_EQ(resolveWindowsPath("C:\\" + std::string(257, 'a'), LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  // Characters no Windows name may hold.
  EXPECT_EQ(resolveWindowsPath("C:\\a*b", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(resolveWindowsPath("C:\\a:b", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_INVALID_NAME));
  // A path without a drive has nowhere to resolve.
  EXPECT_FALSE(resolveWindowsPath("AUTOEXEC.BAT", LastComponent::Follow).ok());
}

// A drive bound to a folder of its own (a mounted Windows drive) is looked up
// there, in any case, and never in the machine directory; the other letters
// still come from the machine directory, and unbinding restores them.
TEST_F(PathResolution, DriveFoldersOfTheirOwnTakePrecedence) {
  const fs::path mounted = m_machine / "mnt";
  writeBytes(mounted / "WINDOWS/SYSTEM.DAT", "creg");
  writeBytes(c("WINDOWS/SYSTEM.DAT"), "machine directory");
  writeBytes(m_machine / "drive_d/README.TXT", "d");
  setDriveFolder('C', mounted);
  ResolvedPath r = resolveWindowsPath("C:\\windows\\system.dat", LastComponent::Follow);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.host, fs::canonical(mounted / "WINDOWS/SYSTEM.DAT"));
  EXPECT_EQ(r.drive_root, fs::canonical(mounted));
  // Nothing above the drive's own folder is reached.
  r = resolveWindowsPath("C:\\..\\drive_d\\README.TXT", LastComponent::Follow);
  EXPECT_FALSE(r.exists);
  EXPECT_TRUE(resolveWindowsPath("D:\\README.TXT", LastComponent::Follow).exists);
  // Without a machine directory only the bound letters resolve.
  setMachineDirectory({});
  EXPECT_TRUE(resolveWindowsPath("C:\\WINDOWS\\SYSTEM.DAT", LastComponent::Follow).exists);
  EXPECT_EQ(resolveWindowsPath("D:\\README.TXT", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  clearDriveFolders();
  setMachineDirectory(m_machine);
  EXPECT_EQ(resolveWindowsPath("C:\\WINDOWS\\SYSTEM.DAT", LastComponent::Follow).host,
            fs::canonical(c("WINDOWS/SYSTEM.DAT")));
}
