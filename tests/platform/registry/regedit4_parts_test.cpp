// A large registry file is read in parts on two threads, split at [key] lines
// behind a blank line, and the parts' trees are joined. Wherever it is
// split, the tree or the error must be what reading it through gives, and
// the joined tree must go on working as the tree read through does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/text/ascii.h"
#include "tests/platform/registry/regedit4_reads.h"

namespace {

const std::string kSource = "/m/registry.reg";

// Texts in which a split can fall between two sections that concern each
// other: a key named again, a value set again, a parent whose subkeys come
// in either part, in and out of order, roots first named in the later part.
std::vector<std::string> texts() {
  const std::string lm = "[HKEY_LOCAL_MACHINE";
  std::string shuffled = "REGEDIT4\r\n\r\n";
  // More subkeys than are searched in turn, out of order, some named again
  // in another case: the parent's list is indexed in one part or the other.
  for (int i = 0; i < 24; ++i) {
    const int n = (i * 7) % 19;
    shuffled += lm + "\\Mixed\\Key" + std::to_string(n) + "]\r\n\"n\"=dword:" + std::to_string(i) +
                "\r\n\r\n";
    if (i % 5 == 4) shuffled += lm + "\\MIXED\\KEY" + std::to_string(n) + "\\Below]\r\n\r\n";
  }
  return {
      "REGEDIT4\r\n\r\n" + lm + "\\Software\\A]\r\n\"x\"=\"1\"\r\n\"y\"=dword:2\r\n\r\n" + lm +
          "\\Software\\B]\r\n\r\n" + lm +
          "\\Software\\A]\r\n\"Y\"=\"changed\"\r\n\"z\"=hex:01,02\r\n\r\n"
          "[HKEY_CURRENT_USER\\Later]\r\n\r\n" +
          lm + "\\software\\a\\Sub]\r\n@=\"default\"\r\n\r\n" + lm +
          "]\r\n\"root\"=\"value\"\r\n\r\n" + lm +
          "\\Software\\0first]\r\n\r\n[HKEY_USERS]\r\n\r\n" + lm +
          "\\Software\\B\\C\\D]\r\n\"deep\"=\"\"\r\n\r\n" + lm + "\\Software\\zlast]\r\n",
      shuffled,
      // Line ends of both kinds; hex data continued up to a blank line, and
      // continued onto one, which ends it.
      "REGEDIT4\n\n" + lm + "\\K]\n\"a\"=hex:01,\\\n  02\n\n" + lm +
          "\\K\\L]\r\n\"b\"=hex:03,\\\r\n\r\n" + lm + "\\K]\n\"a\"=\"again\"\n\n" + lm +
          "\\M]\n\"c\"=hex(7):41,00,00\n",
      // Refused texts: an error in the first part, in the later part, in the
      // later part's first line, in both; a NUL byte after an error.
      "REGEDIT4\r\n\r\n" + lm + "\\A]\r\n\"a\"=dword:1\r\n\r\n" + lm +
          "\\B]\r\nnot a line\r\n\r\n" + lm + "\\C]\r\n\r\n" + lm + "\\D]\r\n\"d\"=dword:xyz\r\n",
      "REGEDIT4\r\n\r\n" + lm + "\\A]\r\n\r\n[-HKEY_LOCAL_MACHINE\\B]\r\n\r\n" + lm +
          "\\C]\r\n\r\n[HKEY_NOWHERE\\D]\r\n\r\n" + lm + "\\E]\r\n",
      "REGEDIT4\r\n\r\n" + lm + "\\A]\r\n\"a\"=hex:zz\r\n\r\n" + lm + "\\B]\r\n\r\n" + lm +
          "\\C]\r\n\"c\"=\"x" + std::string(1, '\0') + "\"\r\n\r\n" + lm + "\\D]\r\n",
      "REGEDIT5\r\n\r\n" + lm + "\\A]\r\n\r\n" + lm + "\\B]\r\n",
      // A [key] line that hex data goes on into is no place to split.
      "REGEDIT4\r\n\r\n" + lm + "\\A]\r\n\"a\"=hex:01,\\\r\n" + lm + "\\B]\r\n\r\n" + lm +
          "\\C]\r\n",
  };
}

// Reads `text` in `parts` parts, which start near even steps through the
// size given as expected (any size will do, and moves where they start), of
// which the helper thread reads `back` from the back.
Result<RegistryTree> readInParts(const std::string& text, std::size_t expected, std::size_t parts,
                                 std::size_t back, std::atomic<int>* elsewhere = nullptr,
                                 std::size_t block = 5, std::size_t fail_at = std::string::npos,
                                 const std::string& failure = "") {
  return parseRegedit4(readAtOf(text, block, fail_at, failure, elsewhere), expected, kSource,
                       ReadInParts{std::max<std::size_t>(1, expected / parts), back});
}

TEST(Regedit4Parts, ReadInPartsGivesWhatReadingThroughGives) {
  for (const std::string& text : texts()) {
    const std::string through = outcome(parseRegedit4(text, kSource));
    for (const std::size_t parts : {2, 8}) {
      std::atomic<int> elsewhere = 0;
      int helped = 0;
      for (std::size_t expected = 0; expected <= 2 * text.size(); ++expected) {
        const std::size_t back = expected % parts;
        const int before = elsewhere;
        ASSERT_EQ(outcome(readInParts(text, expected, parts, back, &elsewhere)), through)
            << back << " of " << parts << " parts read from the back, parts near even steps "
            << "through " << expected << " bytes of\n"
            << text;
        if (elsewhere != before) ++helped;
      }
      EXPECT_GT(helped, 8) << "the helper hardly ever read a part of\n" << text;
    }
    // Either thread may get to any part first.
    for (int run = 0; run < 20; ++run) {
      ASSERT_EQ(outcome(parseRegedit4(
                    readAtOf(text, 1), text.size(), kSource,
                    ReadInParts{std::max<std::size_t>(1, text.size() / 8), std::nullopt})),
                through);
    }
  }
}

TEST(Regedit4Parts, AnErrorOfTheReadingInAnyPartComesFirst) {
  const std::string failure = "/m/registry.reg: cannot read: Input/output error";
  for (const std::string& text : texts()) {
    for (std::size_t fail_at = 0; fail_at <= text.size(); fail_at += 7) {
      auto tree = readInParts(text, text.size(), 8, fail_at % 8, nullptr, 64, fail_at, failure);
      ASSERT_FALSE(tree.ok()) << "failing at byte " << fail_at;
      EXPECT_EQ(tree.error(), failure) << "failing at byte " << fail_at;
    }
  }
}

// Every key of `tree` below `key`, each found again by its name in capitals,
// then changed alike in both trees: a subkey added in and out of order and
// one taken out, which exercise the lists' order and indexes.
void useEveryKey(RegistryTree& tree, KeyId key, std::vector<KeyId>& seen) {
  std::vector<KeyId> children;
  tree.forEachSubkey(key, [&](KeyId child) { children.push_back(child); });
  for (KeyId child : children) {
    const std::string upper = ascii::toUpper(tree.name(child));
    ASSERT_EQ(tree.findSubkey(key, upper), child) << upper;
    seen.push_back(child);
    useEveryKey(tree, child, seen);
  }
  tree.findOrAddSubkey(key, "zz new last");
  tree.findOrAddSubkey(key, "00 new first");
  if (!children.empty() && !tree.hasSubkeys(children.front())) tree.removeSubkey(children.front());
  EXPECT_EQ(tree.findOrAddSubkey(key, "zz NEW LAST"), tree.findSubkey(key, "ZZ new last"));
}

TEST(Regedit4Parts, TheJoinedTreeWorksAsTheTreeReadThrough) {
  for (const std::string& text : texts()) {
    auto through = parseRegedit4(text, kSource);
    if (!through) continue;
    for (std::size_t expected = 0; expected < 2 * text.size(); expected += 5) {
      auto parts = readInParts(text, expected, 2 + expected % 7, expected % 5);
      ASSERT_TRUE(parts.ok()) << parts.error();
      RegistryTree once = through.value();
      std::vector<KeyId> seen_once;
      std::vector<KeyId> seen_parts;
      for (RootKey root : once.mentionOrder()) {
        useEveryKey(once, RegistryTree::rootKey(root), seen_once);
        useEveryKey(parts.value(), RegistryTree::rootKey(root), seen_parts);
      }
      EXPECT_EQ(seen_parts.size(), seen_once.size());
      ASSERT_EQ(writeRegedit4(parts.value()), writeRegedit4(once))
          << "parts near even steps through " << expected << " bytes";
    }
  }
}

}  // namespace
