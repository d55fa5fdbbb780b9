// The file's tree against a key tree: compareTrees says where two trees part,
// and holdsTree, which compares a checked file with a tree directly, agrees
// with reading the file into a tree and comparing that.
#include "platform/creg/creg_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/platform/creg/creg_samples.h"

namespace {

using creg_gen::Style;
const KeyId kHklm = RegistryTree::rootKey(RootKey::LocalMachine);

KeyId findPath(const RegistryTree& tree, std::string_view path) {
  KeyId key = kHklm;
  while (!path.empty() && key != kNoKey) {
    const std::size_t cut = path.find('\\');
    key = tree.findSubkey(key, path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  return key;
}

TEST(CregTree, HoldsTreeAgreesWithReadingTheFileAndComparing) {
  struct Change {
    const char* what;
    std::function<void(RegistryTree&)> make;
    std::string message;  // What compareTrees says, the read file first; empty: the same.
  };
  const std::string audio = "HKLM\\Software\\Kivra\\Q76 Audio";
  const std::vector<Change> changes = {
      {"nothing", [](RegistryTree&) {}, ""},
      {"data",
       [](RegistryTree& t) {
         t.setValue(findPath(t, "Software\\Kivra\\Q76 Audio"), "Version", REG_SZ,
                    std::string_view("5\0", 2));
       },
       audio + ": value \"Version\" differs"},
      {"type",
       [](RegistryTree& t) {
         const KeyId key = findPath(t, "Software\\Kivra\\Q76 Audio");
         const std::string data(t.findValue(key, "Blob")->data);
         t.setValue(key, "Blob", 7, data);
       },
       audio + ": value \"Blob\" differs"},
      {"a value added",
       [](RegistryTree& t) {
         t.setValue(findPath(t, "Software\\Kivra\\Q76 Audio"), "New", REG_SZ, "1");
       },
       audio + ": 2 values against 3"},
      {"a value removed",
       [](RegistryTree& t) { t.removeValue(findPath(t, "Software\\Kivra\\Q76 Audio"), "Blob"); },
       audio + ": 2 values against 1"},
      {"a key added",
       [](RegistryTree& t) { t.findOrAddSubkey(findPath(t, "Software\\Kivra"), "Other"); },
       "HKLM\\Software\\Kivra: 1 subkeys against 2"},
      {"a key removed",
       [](RegistryTree& t) { t.removeSubkey(findPath(t, "Software\\Kivra\\Q76 Audio\\Part 4")); },
       audio + ": 4 subkeys against 3"},
      {"a key in another letter case",
       [](RegistryTree& t) {
         const KeyId soft = findPath(t, "Software\\Caf\xe9 Soft");
         const KeyId old = findPath(t, "Software\\Caf\xe9 Soft\\R\xe9glages");
         std::vector<std::pair<std::string, std::string>> values;
         t.forEachValue(old, [&](const RegistryValue& v) {
           values.emplace_back(std::string(v.name), std::string(v.data));
         });
         t.removeSubkey(old);
         const KeyId again = t.findOrAddSubkey(soft, "R\xc9GLAGES");
         t.setValue(again, "Nom", REG_SZ, values[0].second);
         t.setValue(again, "Size", REG_DWORD, values[1].second);
       },
       "HKLM\\Software\\Caf\xe9 Soft\\R\xe9glages: named differently"},
  };
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    const auto bytes = creg_samples::sampleFile(style, style == Style::Packed);
    auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
    ASSERT_TRUE(loaded) << loaded.error();
    for (const Change& change : changes) {
      RegistryTree changed = loaded.value().tree;
      change.make(changed);
      RegistryTree reread;
      ASSERT_TRUE(creg::readIntoTree(bytes, loaded.value().checked, reread, kHklm, "SYSTEM.DAT"));
      const auto compared = creg::compareTrees(reread, kHklm, changed, kHklm, "HKLM");
      EXPECT_EQ(compared ? std::string() : compared.error(), change.message) << change.what;
      EXPECT_EQ(creg::holdsTree(bytes, loaded.value().checked, changed, kHklm),
                change.message.empty())
          << change.what;
    }
  }
}

// Trees far deeper than a file may hold are compared without recursing: a
// call per level would overflow the stack long before 200,000 levels. The
// difference at the bottom is found and named by its whole path.
TEST(CregTree, DeepTreesAreComparedWithoutRecursing) {
  constexpr int kDepth = 100000;
  RegistryTree a, b;
  KeyId keyA = kHklm, keyB = kHklm;
  for (int level = 0; level < kDepth; ++level) {
    keyA = a.findOrAddSubkey(keyA, "K");
    keyB = b.findOrAddSubkey(keyB, "K");
  }
  EXPECT_TRUE(creg::compareTrees(a, kHklm, b, kHklm, "HKLM"));
  b.setValue(keyB, "Bottom", REG_DWORD, std::string_view("\1\0\0\0", 4));
  auto differs = creg::compareTrees(a, kHklm, b, kHklm, "HKLM");
  ASSERT_FALSE(differs);
  std::string path = "HKLM";
  for (int level = 0; level < kDepth; ++level) path += "\\K";
  EXPECT_EQ(differs.error(), path + ": 0 values against 1");
}

}  // namespace
