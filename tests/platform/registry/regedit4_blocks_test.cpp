// A registry file is read a block at a time. Wherever the blocks end (inside
// a line, a name, an escape, a line end), the tree or the error must be what
// the whole text at once gives, and an error of the reading itself comes
// before any other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/registry/regedit4_reads.h"

namespace {

std::vector<std::string> texts() {
  const std::string lm = "[HKEY_LOCAL_MACHINE";
  std::string many_keys = "REGEDIT4\r\n\r\n";
  for (int i = 0; i < 3000; ++i) {
    many_keys += lm + "\\Software\\Vesk\\Part" + std::to_string(i % 7) + "\\Key" +
                 std::to_string(i) + "]\r\n\"Driver\"=\"snd" + std::to_string(i) +
                 ".drv\"\r\n\"Flags\"=dword:" + std::to_string(i % 10) + "\r\n\r\n";
  }
  // One value of 150,000 bytes on a single line: longer than a block.
  std::string long_line = "REGEDIT4\r\n" + lm + "\\Big]\r\n\"Blob\"=hex:00";
  for (int i = 1; i < 150'000; ++i) long_line += ",ab";
  long_line += "\r\n";
  const std::string nul(1, '\0');
  return {
      many_keys,
      long_line,
      // Sections that share a beginning but not a key, roots in turn, a
      // root's own section, a section named again, the root in another case.
      "REGEDIT4\n" + lm + "\\A]\n\"x\"=\"1\"\n" + lm + "\\Ab]\n" + lm +
          "\\A\\B]\n[HKEY_CURRENT_USER\\A\\B]\n" + lm + "\\A\\B\\C]\n" + lm + "]\n" + lm +
          "\\A]\n\"x\"=\"2\"\n[hkey_local_machine\\a\\b\\d]\n@=\"default \\\"quoted\\\" \\\\\"\n",
      // Hex continued over lines, blanks around everything, no line end at
      // the end of the text.
      "REGEDIT4\r\n  " + lm + "\\K]  \r\n \"a\" = hex(2):41,42,\\\r\n    43,00\r\n\t\"b\"=dword:ff",
      // Refused texts: the first error of each kind, in whichever block.
      "REGEDIT5\r\n",
      many_keys + lm + "\\K]\r\n\"a\"=hex:01,\\\r\n  0g\r\n",
      many_keys + lm + "\\K]\r\n\"a\"=hex:01,\\",
      many_keys + "; a comment\r\n",
      // A NUL byte is reported before any error of a line, wherever it is.
      "REGEDIT4\r\n; a comment\r\n" + many_keys + "\"a\"=\"x" + nul + "\"\r\n",
      many_keys + "\"a\"=\"x" + nul + "y\"\r\n",
      "REGEDIT" + nul + "4\r\n",
  };
}

TEST(Regedit4Blocks, ReadInBlocksGivesWhatTheWholeTextGives) {
  for (const std::string& text : texts()) {
    const std::string whole = outcome(parseRegedit4(text, "/m/registry.reg"));
    for (const std::size_t block : {1, 2, 7, 61, 4096, 1 << 20}) {
      std::size_t at = 0;
      const std::string in_blocks =
          outcome(parseRegedit4(blocksOf(text, block, at), text.size(), "/m/registry.reg"));
      ASSERT_EQ(in_blocks, whole) << "blocks of " << block << " bytes, text of " << text.size()
                                  << " bytes starting " << text.substr(0, 60);
    }
  }
}

TEST(Regedit4Blocks, AnErrorOfTheReadingComesFirst) {
  const std::string failure = "/m/registry.reg: cannot read: Input/output error";
  for (const std::string& text : texts()) {
    for (const std::size_t fail_at :
         {std::size_t{0}, std::size_t{5}, text.size() / 2, text.size()}) {
      std::size_t at = 0;
      auto tree =
          parseRegedit4(blocksOf(text, 4096, at, fail_at, failure), text.size(), "/m/registry.reg");
      ASSERT_FALSE(tree.ok()) << "failing at byte " << fail_at;
      EXPECT_EQ(tree.error(), failure) << "failing at byte " << fail_at;
    }
  }
}

}  // namespace
