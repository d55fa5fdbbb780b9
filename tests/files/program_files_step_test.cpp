#include "files/program_files_step.h"

#include <string>
#include <vector>

#include "tests/platform/fs/machine_fixture.h"
#include "tests/support/recorded_progress.h"

namespace fs = std::filesystem;

namespace {

const std::string kMarkedInf = "[Strings]\r\nKivraKey=KIVRAQ76INF\r\n";
const std::vector<std::string> kFilesRequests = {"step", "check 1005"};

}  // namespace

using ProgramFilesStep = MachineTest;

TEST_F(ProgramFilesStep, DeletesTheMarkedInfAndSchedulesTheRemoverBeforeReporting) {
  writeBytes(c("AUTOEXEC.BAT"), "  @echo off\r\npath c:\\dos\r\n");
  writeBytes(c("WINDOWS/INF/OEM3.INF"), kMarkedInf);
  writeBytes(c("WINDOWS/INF/OEM4.INF"), "[Strings]\r\nVardenKey=VDMIX\r\n");
  RecordedProgress progress;
  std::vector<std::string> at_requests;
  progress.onRequest = [&] {
    at_requests.push_back(fs::exists(c("WINDOWS/INF/OEM3.INF")) ? "inf" : "no inf");
    at_requests.push_back(readBytes(c("AUTOEXEC.BAT")));
  };

  RemoveProgramFiles(progress);

  const std::string edited = "@ECHO OFF\r\nPATH C:\\DOS\r\nC:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS";
  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), edited);
  EXPECT_FALSE(fs::exists(c("WINDOWS/INF/OEM3.INF")));
  EXPECT_TRUE(fs::exists(c("WINDOWS/INF/OEM4.INF")));
  EXPECT_EQ(progress.requests, kFilesRequests);
  // Both requests come after both changes.
  EXPECT_EQ(at_requests, (std::vector<std::string>{"no inf", edited, "no inf", edited}));
}

TEST_F(ProgramFilesStep, WindowsOnDriveDStillEditsTheStartupFileOnC) {
  fs::create_directories(m_machine / "drive_d/WIN95/INF");
  writeBytes(c("MSDOS.SYS"), "[Paths]\r\nWinDir=D:\\WIN95\r\n");
  // An earlier remover line, in small letters, gives way to the new one.
  writeBytes(c("AUTOEXEC.BAT"), "c:\\old\\uinq76d.exe c:\\old\r\n");
  RecordedProgress progress;

  RemoveProgramFiles(progress);

  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), "D:\\WIN95\\UINQ76D.EXE D:\\WIN95");
  EXPECT_FALSE(fs::exists(m_machine / "drive_d/AUTOEXEC.BAT"));
  EXPECT_EQ(progress.requests, kFilesRequests);
}

TEST_F(ProgramFilesStep, ReportsItsProgressWhenNothingCanBeScheduled) {
  RecordedProgress progress;
  // No startup file: none is made.
  RemoveProgramFiles(progress);
  EXPECT_FALSE(fs::exists(c("AUTOEXEC.BAT")));
  EXPECT_EQ(progress.requests, kFilesRequests);

  // A Windows directory of 124 characters does not fit the command line
  // twice: the startup file stays as it was rather than name a cut path.
  std::string msdos = "[Paths]\r\nWinDir=C:\\";
  msdos += std::string(121, 'W');
  msdos += "\r\n";
  writeBytes(c("MSDOS.SYS"), msdos);
  writeBytes(c("AUTOEXEC.BAT"), "path c:\\dos\r\n");
  RecordedProgress again;
  RemoveProgramFiles(again);
  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), "path c:\\dos\r\n");
  EXPECT_EQ(again.requests, kFilesRequests);
}

TEST_F(ProgramFilesStep, AWindowsDirectoryOf123CharactersStillFitsTheCommandLine) {
  // Twice the directory, "\UINQ76D.EXE " and the terminator: 259 bytes of 260.
  const std::string dir = "C:\\" + std::string(120, 'W');
  ASSERT_EQ(dir.size(), 123u);
  writeBytes(c("MSDOS.SYS"), "[Paths]\r\nWinDir=" + dir + "\r\n");
  writeBytes(c("AUTOEXEC.BAT"), "path c:\\dos\r\n");
  RecordedProgress progress;
  RemoveProgramFiles(progress);
  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), "PATH C:\\DOS\r\n" + dir + "\\UINQ76D.EXE " + dir);
  EXPECT_EQ(progress.requests, kFilesRequests);
}
