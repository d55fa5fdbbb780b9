#include "files/startup_file_editor.h"

#include <cstring>
#include <string>

#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kKey = "UINQ76D.EXE";
constexpr const char* kNew = "C:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS";
}  // namespace

class StartupFileEditor : public MachineTest {
 protected:
  // Edits C:\AUTOEXEC.BAT holding `bytes` and returns what it holds afterwards.
  std::string edit(const std::string& bytes, const char* key = kKey, const char* new_line = kNew) {
    writeBytes(c("AUTOEXEC.BAT"), bytes);
    EXPECT_EQ(EditStartupFileLine(key, new_line, "C:\\AUTOEXEC.BAT"), 1);
    EXPECT_FALSE(fs::exists(c("AUTOEXEC.@@@")));
    return readBytes(c("AUTOEXEC.BAT"));
  }
  const std::string m_new = kNew;
};

TEST_F(StartupFileEditor, AppendsOrReplacesTheLine) {
  // No line holds the key: lines come back stripped and in capitals, the new
  // line follows the last one with no line break after it.
  EXPECT_EQ(edit("  @echo off\r\npath c:\\dos\r\n"), "@ECHO OFF\r\nPATH C:\\DOS\r\n" + m_new);
  // The last line holds the key: the new line takes its place.
  EXPECT_EQ(edit("path c:\\dos\r\nc:\\win\\uinq76d.exe c:\\win\r\n"), "PATH C:\\DOS\r\n" + m_new);
  // Found in any case after leading spaces; the lines after it stay unchanged,
  // each on its own line, and a later line with the key is not touched.
  EXPECT_EQ(edit("a\r\n   Uinq76d.exe x\r\n  later\r\n  uinq76d.exe y\r\n"),
            "A\r\n" + m_new + "\r\n  later\r\n  uinq76d.exe y\r\n");
  // A last line without a line break: the new line still stands on its own.
  EXPECT_EQ(edit("a\r\nb"), "A\r\nB\r\n" + m_new);
  // Empty file, and one whose first byte is Ctrl-Z: only the new line.
  EXPECT_EQ(edit(""), m_new);
  EXPECT_EQ(edit("\x1A"
                 "anything\r\n"),
            m_new);
  // Ctrl-Z ends the file: what follows it is dropped.
  EXPECT_EQ(edit("a\r\n\x1A"
                 "uinq76d.exe\r\n"),
            "A\r\n" + m_new);
  // Lone carriage returns stay characters of their line.
  EXPECT_EQ(edit("a\rb\r\n"), "A\rB\r\n" + m_new);
  // Letters of 128 and above keep their case; tabs are not leading spaces.
  EXPECT_EQ(edit("\t\xE9t\xE9\r\n"), "\t\xE9T\xE9\r\n" + m_new);
}

TEST_F(StartupFileEditor, PassesOverRemLines) {
  // "REM " in any case, after leading spaces, is never the matching line.
  EXPECT_EQ(edit("  rem uinq76d.exe\r\nx\r\n"), "REM UINQ76D.EXE\r\nX\r\n" + m_new);
  // "@REM" and "REM" with a tab are ordinary lines.
  EXPECT_EQ(edit("@rem uinq76d.exe\r\nx\r\n"), m_new + "\r\nx\r\n");
  EXPECT_EQ(edit("rem\tuinq76d.exe\r\n"), m_new);
  // A key that itself begins with "REM " finds a REM line.
  EXPECT_EQ(edit("a\r\nrem old\r\nb\r\n", "rem OLD", "NEW"), "A\r\nNEW\r\nb\r\n");
}

TEST_F(StartupFileEditor, HandlesMissingKeyOrNewLine) {
  // No key or an empty one: no line matches.
  EXPECT_EQ(edit(" uinq76d.exe\r\n", nullptr), "UINQ76D.EXE\r\n" + m_new);
  EXPECT_EQ(edit(" uinq76d.exe\r\n", ""), "UINQ76D.EXE\r\n" + m_new);
  // No new line or an empty one: the matching line goes, nothing takes its place.
  EXPECT_EQ(edit("a\r\nuinq76d.exe\r\n b\r\n", kKey, nullptr), "A\r\n b\r\n");
  EXPECT_EQ(edit(" a\r\n b\r\n", kKey, ""), "A\r\nB\r\n");
}

TEST_F(StartupFileEditor, TreatsEachPieceOfALongLineAsALine) {
  const std::string head(127, 'a');
  // The key in the second piece of a long line: the first piece stays, and the
  // new line stands on a line of its own between it and the rest.
  EXPECT_EQ(edit(head + "  x uinq76d.exe\r\nnext\r\n"),
            std::string(127, 'A') + "\r\n" + m_new + "\r\nnext\r\n");
  // A key cut by the piece boundary is not found.
  const std::string split = std::string(120, 'a') + "uinq76d.exe\r\n";
  EXPECT_EQ(edit(split), std::string(120, 'A') + "UINQ76D.EXE\r\n" + m_new);
  // A piece holding a zero byte is searched up to it and kept whole.
  EXPECT_EQ(edit(std::string("ab\0uinq76d.exe\r\nz\r\n", 19)),
            std::string("AB\0UINQ76D.EXE\r\nZ\r\n", 19) + m_new);
}

TEST_F(StartupFileEditor, DerivesTheTemporaryFromTheFirstDot) {
  // A dot in a folder name cuts there: C:\WIN.95\AUTOEXEC.BAT gives C:\WIN.@@@,
  // which a folder blocks here, so the edit fails and the file stays.
  writeBytes(c("WIN.95/AUTOEXEC.BAT"), "a\r\n");
  fs::create_directory(c("WIN.@@@"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\WIN.95\\AUTOEXEC.BAT"), 0);
  EXPECT_EQ(readBytes(c("WIN.95/AUTOEXEC.BAT")), "a\r\n");
  fs::remove(c("WIN.@@@"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\WIN.95\\AUTOEXEC.BAT"), 1);
  EXPECT_EQ(readBytes(c("WIN.95/AUTOEXEC.BAT")), "A\r\n" + m_new);
  // A path without a dot gets ".@@@" appended.
  writeBytes(c("STARTUP"), "a\r\n");
  fs::create_directory(c("STARTUP.@@@"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\STARTUP"), 0);
  fs::remove(c("STARTUP.@@@"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\STARTUP"), 1);
  // A file named like its own temporary is refused, not emptied.
  writeBytes(c("AUTOEXEC.@@@"), "keep\r\n");
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\autoexec.@@@"), 0);
  EXPECT_EQ(readBytes(c("AUTOEXEC.@@@")), "keep\r\n");
}

TEST_F(StartupFileEditor, FailuresLeaveTheFileAsItWas) {
  // A missing file, or a missing folder: nothing is created.
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\AUTOEXEC.BAT"), 0);
  EXPECT_FALSE(fs::exists(c("AUTOEXEC.@@@")));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\NODIR\\AUTOEXEC.BAT"), 0);
  // A folder where the file should be cannot be read.
  fs::create_directory(c("AUTOEXEC.BAT"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\AUTOEXEC.BAT"), 0);
  EXPECT_FALSE(fs::exists(c("AUTOEXEC.@@@")));
  fs::remove(c("AUTOEXEC.BAT"));
  // A read-only stale temporary cannot be created anew.
  writeBytes(c("AUTOEXEC.BAT"), "a\r\n");
  writeBytes(c("AUTOEXEC.@@@"), "stale");
  makeReadOnly(c("AUTOEXEC.@@@"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\AUTOEXEC.BAT"), 0);
  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), "a\r\n");
  EXPECT_EQ(readBytes(c("AUTOEXEC.@@@")), "stale");
  fs::remove(c("AUTOEXEC.@@@"));
  // A read-only file cannot be replaced: it stays, the finished copy remains.
  makeReadOnly(c("AUTOEXEC.BAT"));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, "C:\\AUTOEXEC.BAT"), 0);
  EXPECT_EQ(readBytes(c("AUTOEXEC.BAT")), "a\r\n");
  EXPECT_EQ(readBytes(c("AUTOEXEC.@@@")), "A\r\n" + m_new);
  // A key or path longer than its buffer fails without touching anything.
  fs::remove(c("AUTOEXEC.@@@"));
  EXPECT_EQ(EditStartupFileLine(std::string(128, 'K').c_str(), kNew, "C:\\AUTOEXEC.BAT"), 0);
  EXPECT_FALSE(fs::exists(c("AUTOEXEC.@@@")));
  EXPECT_EQ(EditStartupFileLine(kKey, kNew, ("C:\\" + std::string(253, 'A')).c_str()), 0);
}

TEST_F(StartupFileEditor, NeverWritesThroughALinkAtTheTemporary) {
  writeBytes(m_machine / "victim.txt", "keep");
  fs::create_symlink(m_machine / "victim.txt", c("AUTOEXEC.@@@"));
  EXPECT_EQ(edit("a\r\n"), "A\r\n" + m_new);
  EXPECT_EQ(readBytes(m_machine / "victim.txt"), "keep");
}

TEST(StripLeadingSpaces, RemovesOnlySpaces) {
  char line[16];
  // Spaces go; a tab, the line break and the terminator move along.
  std::strcpy(line, "   \tab\n");
  StripLeadingSpaces(line);
  EXPECT_STREQ(line, "\tab\n");
  // Only spaces, and nothing.
  std::strcpy(line, "   ");
  StripLeadingSpaces(line);
  EXPECT_STREQ(line, "");
  std::strcpy(line, "x  ");
  StripLeadingSpaces(line);
  EXPECT_STREQ(line, "x  ");
}
