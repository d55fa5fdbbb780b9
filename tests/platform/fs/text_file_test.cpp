#include "platform/fs/text_file.h"

#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

class TextFile : public MachineTest {
 protected:
  // Every piece that reading C:\T.TXT, holding `bytes`, gives with a
  // 128-byte buffer, each kept with its zero bytes.
  std::vector<std::string> pieces(const std::string& bytes) {
    writeBytes(c("T.TXT"), bytes);
    auto reader = TextFileReader::open("C:\\T.TXT");
    EXPECT_NE(reader, nullptr);
    std::vector<std::string> result;
    if (!reader) return result;
    char buf[128];
    while (size_t n = reader->readPiece(buf, sizeof buf)) result.emplace_back(buf, n);
    EXPECT_FALSE(reader->failed());
    return result;
  }
  using Pieces = std::vector<std::string>;
};

TEST_F(TextFile, ReadsInTextMode) {
  // CR LF is one line break; a lone CR stays; LF alone is a line break.
  EXPECT_EQ(pieces("ab\r\ncd\r\n"), (Pieces{"ab\n", "cd\n"}));
  EXPECT_EQ(pieces("ab\rcd\n"), (Pieces{"ab\rcd\n"}));
  EXPECT_EQ(pieces("ab\r\r\ncd"), (Pieces{"ab\r\n", "cd"}));
  EXPECT_EQ(pieces("\r\n\r\nx"), (Pieces{"\n", "\n", "x"}));
  // Ctrl-Z ends the file: nothing after it is read.
  EXPECT_EQ(pieces("ab\x1A"
                   "cd\r\nef\r\n"),
            (Pieces{"ab"}));
  EXPECT_EQ(pieces("\x1A"
                   "ab\r\n"),
            Pieces{});
  EXPECT_EQ(pieces("ab\r\x1A"
                   "cd"),
            (Pieces{"ab\r"}));
  EXPECT_EQ(pieces(""), Pieces{});
  // A zero byte is read like any other.
  EXPECT_EQ(pieces(std::string("ab\0cd\r\nef", 9)), (Pieces{std::string("ab\0cd\n", 6), "ef"}));
}

TEST_F(TextFile, ReadsLongLinesInPiecesOf127) {
  // 200 characters arrive as 127 and 73 plus the line break.
  EXPECT_EQ(pieces(std::string(200, 'x') + "\r\nend\r\n"),
            (Pieces{std::string(127, 'x'), std::string(73, 'x') + "\n", "end\n"}));
  // A CR LF just after 127 characters becomes a piece of its own.
  EXPECT_EQ(pieces(std::string(127, 'x') + "\r\ny"), (Pieces{std::string(127, 'x'), "\n", "y"}));
  EXPECT_EQ(pieces(std::string(126, 'x') + "\r\n"), (Pieces{std::string(126, 'x') + "\n"}));
  // A CR LF across the 4 KB read buffer is still joined.
  const Pieces long_line = pieces(std::string(4095, 'x') + "\r\n");
  ASSERT_EQ(long_line.size(), 33u);
  EXPECT_EQ(long_line.back(), std::string(31, 'x') + "\n");
}

TEST_F(TextFile, WritesEveryLineBreakAsCrLf) {
  auto writer = TextFileWriter::createNew("C:\\OUT.TXT");
  ASSERT_NE(writer, nullptr);
  const std::string text = std::string(
      "a\nb\r\nc\rd\x1A"
      "e\n\n",
      12);
  EXPECT_TRUE(writer->write(text.data(), text.size()));
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(readBytes(c("OUT.TXT")),
            "a\r\nb\r\r\nc\rd\x1A"
            "e\r\n\r\n");
}

TEST_F(TextFile, CreatesAnewWithoutFollowingWhatStandsThere) {
  // A symbolic link at the path is removed; the file it names stays.
  writeBytes(c("victim.txt"), "keep");
  fs::create_symlink("victim.txt", c("T.@@@"));
  auto writer = TextFileWriter::createNew("C:\\T.@@@");
  ASSERT_NE(writer, nullptr);
  EXPECT_TRUE(writer->write("new", 3));
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(readBytes(c("victim.txt")), "keep");
  EXPECT_FALSE(fs::is_symlink(c("T.@@@")));
  EXPECT_EQ(readBytes(c("T.@@@")), "new");
  // A stale file is emptied by creating it anew, in the spelling given.
  writeBytes(c("stale.@@@"), "old text");
  writer = TextFileWriter::createNew("C:\\STALE.@@@");
  ASSERT_NE(writer, nullptr);
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(readBytes(c("STALE.@@@")), "");
  EXPECT_FALSE(fs::exists(c("stale.@@@")));
  // A read-only file or a folder at the path makes the create fail.
  writeBytes(c("ro.@@@"), "ro");
  makeReadOnly(c("ro.@@@"));
  EXPECT_EQ(TextFileWriter::createNew("C:\\RO.@@@"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(readBytes(c("ro.@@@")), "ro");
  fs::create_directory(c("dir.@@@"));
  EXPECT_EQ(TextFileWriter::createNew("C:\\DIR.@@@"), nullptr);
  EXPECT_TRUE(fs::is_directory(c("dir.@@@")));
  // A missing folder.
  EXPECT_EQ(TextFileWriter::createNew("C:\\NODIR\\X.@@@"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(TextFile, OpensOnlyFilesForReading) {
  // Missing file, folder, link out of the drive.
  EXPECT_EQ(TextFileReader::open("C:\\NONE.TXT"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  fs::create_directory(c("dir"));
  EXPECT_EQ(TextFileReader::open("C:\\DIR"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  writeBytes(m_machine / "outside.txt", "o");
  fs::create_symlink(m_machine / "outside.txt", c("link.txt"));
  EXPECT_EQ(TextFileReader::open("C:\\LINK.TXT"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
