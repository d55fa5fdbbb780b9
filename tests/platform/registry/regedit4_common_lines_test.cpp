// The usual lines ("name"="text", "name"=dword:digits, [key] and blank
// lines) are read on a quicker way than the others. A line behind a blank
// always takes the general way, so each line must give behind a blank just
// what it gives alone: the same tree, or the same error on the same line.
// The lines below are the usual shapes and the lines that nearly have them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/registry/regedit4_reads.h"

namespace {

std::string outcomeInBlocks(const std::string& text, std::size_t block) {
  std::size_t at = 0;
  return outcome(parseRegedit4(blocksOf(text, block, at), text.size(), "/m/registry.reg"));
}

const std::vector<std::string> kLines = {
    "",
    "\r",
    "\"a\"=\"b\"",
    "\"\"=\"\"",
    "\"a\"=\"\"",
    "\"a\\\"q\"=\"b\"",
    "\"a\"=\"b\\\\c\"",
    "\"a\"=\"b\\\"\"",
    "\"a\"=\"b\" ",
    "\"a\" =\"b\"",
    "\"a\"= \"b\"",
    "\"a\"=\"b\"x",
    "\"a\"=\"b",
    "\"a\"=\"b\"\r",
    "\"a\"=\"b\\",
    "\"a\"=\"b\\x\"",
    "\"a\"=\"Plain text of "
    "more than a few words\"",
    "\"A\"=\"another spelling of a\"",
    "\"a\"=dword:0",
    "\"a\"=dword:12345678",
    "\"a\"=dword:123456789",
    "\"a\"=dword:",
    "\"a\"=dword:fFaB",
    "\"a\"=dword:12g",
    "\"a\"=dword:0123abCD",
    "\"a\"=dword:12345678 ",
    "\"a\"=DWORD:1",
    "\"a\"=dword:1 ",
    "\"a\"=dword:1\r",
    "\"a\"=dwor",
    "\"a\"=hex:01",
    "\"a\"",
    "\"a\"=",
    "\"a",
    "\"",
    "\"a\"x=\"b\"",
    "\"a\"=\"x" + std::string(1, '\0') + "y\"",
    "[HKEY_LOCAL_MACHINE\\K\\Sub]",
    "[HKEY_LOCAL_MACHINE\\K]]",
    "[HKEY_LOCAL_MACHINE\\K] ",
    "[HKEY_LOCAL_MACHINE\\K",
    "[HKEY_LOCAL_MACHINE\\K]x",
    "[HKEY_LOCAL_MACHINE\\\\K]",
    "[-HKEY_LOCAL_MACHINE\\K]",
    "[HKEY_NOWHERE\\K]",
    "[]",
    "[HKEY_LOCAL_MACHINE\\a]b]",
    "[hkey_local_machine\\k\\SUB]",
    "[HKEY_LOCAL_MACHINE\\K]x]]",
    "[HKEY_LOCAL_MACHINE\\K]x\\S]",
    "[HKEY_LOCAL_MACHINE\\K]\r",
    "@=\"default\"",
};

// Every byte as the first and as the last of eight dword digits.
std::vector<std::string> dwordLines() {
  std::vector<std::string> lines;
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    lines.push_back("\"a\"=dword:" + byte + "0f0F9a0");
    lines.push_back("\"a\"=dword:A0f0F9a" + byte);
  }
  return lines;
}

TEST(Regedit4CommonLines, ALineGivesWhatItGivesBehindABlank) {
  const std::string after = "\"after\"=\"1\"";
  std::vector<std::string> lines = kLines;
  for (std::string& line : dwordLines()) lines.push_back(std::move(line));
  for (const std::string& line : lines) {
    for (const std::string& before :
         {std::string("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"a\"=\"first\"\r\n"),
          std::string("REGEDIT4\r\n"),
          // A previous path with a ] in it, which the next path may share.
          std::string("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]x]\r\n")}) {
      for (const std::string& end : {std::string("\r\n"), std::string("\n")}) {
        const std::string alone = before + line + end + after + end;
        const std::string behind_blank = before + " " + line + end + after + end;
        const std::string expected = outcome(parseRegedit4(behind_blank, "/m/registry.reg"));
        SCOPED_TRACE("line \"" + line + "\" after " + std::to_string(before.size()) + " bytes");
        EXPECT_EQ(outcome(parseRegedit4(alone, "/m/registry.reg")), expected);
        // Blocks that end inside the line, so that it runs past the window.
        for (const std::size_t block : {1, 3, 8, 33}) {
          EXPECT_EQ(outcomeInBlocks(alone, block), expected) << "blocks of " << block;
        }
      }
    }
  }
}

// The usual lines must be what they seem: a spot check that the quick way
// reads what a reader of the file would expect, and not merely the same as
// the general way.
TEST(Regedit4CommonLines, UsualLinesReadAsWritten) {
  const auto tree = parseRegedit4(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vesk\\Q]\r\n\"Driver\"=\"snd.drv\"\r\n"
      "\"Flags\"=dword:0000ff01\r\n\"\"=\"\"\r\n\"flags\"=dword:7\r\n\"Mask\"=dword:ABCDEF09\r\n",
      "/m/registry.reg");
  ASSERT_TRUE(tree.ok()) << tree.error();
  EXPECT_EQ(writeRegedit4(tree.value()),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vesk]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vesk\\Q]\r\n\"Driver\"=\"snd.drv\"\r\n"
            "\"Flags\"=dword:00000007\r\n@=\"\"\r\n\"Mask\"=dword:abcdef09\r\n\r\n");
}

}  // namespace
