// The file functions in a dry run: deletions are checked and recorded, and
// nothing on the drive changes.
#include "platform/fs/dry_run.h"

#include "platform/fs/file_ops.h"
#include "platform/fs/file_replace.h"
#include "platform/fs/text_file.h"
#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

using DryRun = MachineTest;

TEST_F(DryRun, DeletionsAreRecordedAndNothingChanges) {
  writeBytes(c("INF/OEM1.INF"), "one");
  writeBytes(c("AUTOEXEC.BAT"), "WIN\r\n");
  writeBytes(c("AUTOEXEC.@@@"), "temp");
  writeBytes(c("ro.txt"), "r");
  makeReadOnly(c("ro.txt"));

  beginFileDryRun();
  EXPECT_TRUE(fileDryRunActive());
  // A deletion that would succeed is reported as done and recorded.
  EXPECT_TRUE(DeleteFileA("C:\\inf\\oem1.inf"));
  // One that would fail fails as it would, and is not recorded.
  EXPECT_FALSE(DeleteFileA("C:\\RO.TXT"));
  EXPECT_FALSE(DeleteFileA("C:\\MISSING.TXT"));
  // Nothing is created, moved or replaced.
  EXPECT_EQ(TextFileWriter::createNew("C:\\NEW.TXT"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_PROTECT));
  EXPECT_FALSE(MoveFileA("C:\\AUTOEXEC.BAT", "C:\\OLD.BAT"));
  EXPECT_FALSE(replaceFileWithCopy("C:\\AUTOEXEC.@@@", "C:\\AUTOEXEC.BAT"));
  const auto deletions = endFileDryRun();
  EXPECT_FALSE(fileDryRunActive());

  ASSERT_EQ(deletions.size(), 1u);
  EXPECT_EQ(deletions[0].windowsPath, "C:\\inf\\oem1.inf");
  EXPECT_EQ(deletions[0].host, c("INF/OEM1.INF"));
  EXPECT_EQ(readBytes(c("INF/OEM1.INF")), "one");
  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), "WIN\r\n");
  EXPECT_EQ(readBytes(c("AUTOEXEC.@@@")), "temp");
  EXPECT_FALSE(fs::exists(c("NEW.TXT")));
  EXPECT_FALSE(fs::exists(c("OLD.BAT")));

  // Afterwards the functions act again.
  EXPECT_TRUE(DeleteFileA("C:\\INF\\OEM1.INF"));
  EXPECT_FALSE(fs::exists(c("INF/OEM1.INF")));
}
