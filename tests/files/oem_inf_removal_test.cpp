#include "files/oem_inf_removal.h"

#include <string>

#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

namespace {
std::string strings(const std::string& value) {
  return "[Version]\r\nSignature=$CHICAGO$\r\n[Strings]\r\nKivraKey=" + value + "\r\n";
}
}  // namespace

using OemInfRemoval = MachineTest;

TEST_F(OemInfRemoval, DeletesOnlyMarkedOemFiles) {
  // Marked files go: the exact marker, marker within text, quoted.
  writeBytes(c("WINDOWS/INF/OEM3.INF"), strings("KIVRAQ76INF"));
  writeBytes(c("WINDOWS/INF/oem4.inf"), strings("\"Kivra KIVRAQ76INF v2\""));
  writeBytes(c("WINDOWS/INF/OEM10.INF"), "[strings]\r\n  kivrakey = xKIVRAQ76INFx\r\n");
  // These stay: marker in small letters, under another key, in another
  // section, in a file not named OEM*, in a file without the section.
  writeBytes(c("WINDOWS/INF/OEM1.INF"), strings("kivraq76inf"));
  writeBytes(c("WINDOWS/INF/OEM5.INF"), "[Strings]\r\nOtherKey=KIVRAQ76INF\r\n");
  writeBytes(c("WINDOWS/INF/OEM6.INF"), "[Other]\r\nKivraKey=KIVRAQ76INF\r\n");
  writeBytes(c("WINDOWS/INF/KIVRAQ76.INF"), strings("KIVRAQ76INF"));
  writeBytes(c("WINDOWS/INF/OEM7.INF"), "[Version]\r\n");
  // A read-only marked file stays, and the search goes on past it.
  writeBytes(c("WINDOWS/INF/OEM2.INF"), strings("KIVRAQ76INF"));
  makeReadOnly(c("WINDOWS/INF/OEM2.INF"));
  // A folder named like an OEM file stays.
  fs::create_directory(c("WINDOWS/INF/OEM8.INF"));

  RemoveOemInfFiles();

  EXPECT_FALSE(fs::exists(c("WINDOWS/INF/OEM3.INF")));
  EXPECT_FALSE(fs::exists(c("WINDOWS/INF/oem4.inf")));
  EXPECT_FALSE(fs::exists(c("WINDOWS/INF/OEM10.INF")));
  for (const char* kept :
       {"OEM1.INF", "OEM5.INF", "OEM6.INF", "KIVRAQ76.INF", "OEM7.INF", "OEM2.INF", "OEM8.INF"}) {
    EXPECT_TRUE(fs::exists(c(std::string("WINDOWS/INF/") + kept))) << kept;
  }
}

TEST_F(OemInfRemoval, UsesTheRecordedWindowsDirectory) {
  // Windows on D:, as MSDOS.SYS records it.
  fs::create_directories(m_machine / "drive_d");
  writeBytes(c("MSDOS.SYS"), "[Paths]\r\nWinDir=D:\\WIN95\r\n");
  writeBytes(m_machine / "drive_d/WIN95/INF/OEM0.INF", strings("KIVRAQ76INF"));
  writeBytes(c("WINDOWS/INF/OEM0.INF"), strings("KIVRAQ76INF"));
  RemoveOemInfFiles();
  EXPECT_FALSE(fs::exists(m_machine / "drive_d/WIN95/INF/OEM0.INF"));
  EXPECT_TRUE(fs::exists(c("WINDOWS/INF/OEM0.INF")));
  // A missing INF folder: nothing happens.
  fs::remove_all(m_machine / "drive_d/WIN95/INF");
  RemoveOemInfFiles();
  EXPECT_TRUE(fs::exists(c("WINDOWS/INF/OEM0.INF")));
}

TEST_F(OemInfRemoval, PassesOverPathsBeyondItsBuffers) {
  // A Windows directory of 242 characters: the pattern just fits 255
  // characters, and so does the path of OEM1.INF; OEM12.INF's does not and
  // is passed over rather than cut.
  const std::string a(119, 'a');
  const std::string b(119, 'b');
  writeBytes(c("MSDOS.SYS"), "[Paths]\r\nWinDir=C:\\" + a + "\\" + b + "\r\n");
  const fs::path inf = c(a + "/" + b + "/INF");
  writeBytes(inf / "OEM1.INF", strings("KIVRAQ76INF"));
  writeBytes(inf / "OEM12.INF", strings("KIVRAQ76INF"));
  RemoveOemInfFiles();
  EXPECT_FALSE(fs::exists(inf / "OEM1.INF"));
  EXPECT_TRUE(fs::exists(inf / "OEM12.INF"));
  // One character more and the pattern no longer fits: nothing is done.
  writeBytes(c("MSDOS.SYS"), "[Paths]\r\nWinDir=C:\\" + a + "\\" + b + "b\r\n");
  const fs::path longer = c(a + "/" + b + "b/INF");
  writeBytes(longer / "OEM1.INF", strings("KIVRAQ76INF"));
  RemoveOemInfFiles();
  EXPECT_TRUE(fs::exists(longer / "OEM1.INF"));
}

TEST_F(OemInfRemoval, NeverReadsOrDeletesTheCutNameOfALongOne) {
  // A folder text of 244 characters: OEM12345.INF makes a path of 256, one
  // more than the buffer holds. Cut to fit, it would name OEM12345.IN, a
  // marked file that the pattern never matches.
  const std::string a(119, 'a');
  const std::string b(116, 'b');
  writeBytes(c("MSDOS.SYS"), "[Paths]\r\nWinDir=C:\\" + a + "\\" + b + "\r\n");
  const fs::path inf = c(a + "/" + b + "/INF");
  writeBytes(inf / "OEM12345.INF", strings("KIVRAQ76INF"));
  writeBytes(inf / "OEM12345.IN", strings("KIVRAQ76INF"));
  writeBytes(inf / "OEM1.INF", strings("KIVRAQ76INF"));
  RemoveOemInfFiles();
  EXPECT_FALSE(fs::exists(inf / "OEM1.INF"));
  EXPECT_TRUE(fs::exists(inf / "OEM12345.INF"));
  EXPECT_TRUE(fs::exists(inf / "OEM12345.IN"));
}
