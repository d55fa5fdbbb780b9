// The registry's fingerprint of its tree: the same for the same keys and
// values however the tree came about, and different for any change of a name,
// type, data or order, also for changes that keep every byte and only move
// where a name ends or which key holds what.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry/registry_tree.h"
#include "shell/backup/sha256.h"

namespace {

const KeyId kMachine = RegistryTree::rootKey(RootKey::LocalMachine);
const KeyId kConfig = RegistryTree::rootKey(RootKey::CurrentConfig);

// HKLM\Software\Kivra (values "ab" and "c") with subkeys "Q76" and "Q77", and
// HKCC\Display.
RegistryTree sample(const std::function<void(RegistryTree&, KeyId)>& change = {}) {
  RegistryTree tree;
  const KeyId kivra = tree.findOrAddSubkey(tree.findOrAddSubkey(kMachine, "Software"), "Kivra");
  tree.setValue(kivra, "ab", REG_SZ, std::string_view("1\0", 2));
  tree.setValue(kivra, "c", REG_DWORD, std::string_view("\x10\0\0\0", 4));
  tree.findOrAddSubkey(kivra, "Q76");
  tree.findOrAddSubkey(kivra, "Q77");
  tree.findOrAddSubkey(kConfig, "Display");
  if (change) change(tree, kivra);
  return tree;
}

std::string digest(const RegistryTree& tree) { return backup::registryDigest(tree); }

TEST(RegistryDigest, TheTreeAloneDecides) {
  const std::string same = digest(sample());
  EXPECT_EQ(same.size(), 64u);
  // Built in another order, with a key added and removed again, or copied.
  RegistryTree other;
  other.findOrAddSubkey(kConfig, "Display");
  const KeyId kivra = other.findOrAddSubkey(other.findOrAddSubkey(kMachine, "Software"), "Kivra");
  other.removeSubkey(other.findOrAddSubkey(kivra, "Gone"));
  other.setValue(kivra, "ab", REG_SZ, std::string_view("1\0", 2));
  other.setValue(kivra, "c", REG_DWORD, std::string_view("\x10\0\0\0", 4));
  other.findOrAddSubkey(kivra, "Q76");
  other.findOrAddSubkey(kivra, "Q77");
  EXPECT_EQ(digest(other), same);
  const RegistryTree copy = other;
  EXPECT_EQ(digest(copy), same);

  using Change = std::function<void(RegistryTree&, KeyId)>;
  const std::vector<std::pair<const char*, Change>> changes = {
      {"data", [](RegistryTree& t, KeyId k) { t.setValue(k, "ab", REG_SZ, "2"); }},
      {"type", [](RegistryTree& t, KeyId k) { t.setValue(k, "ab", REG_BINARY, "1"); }},
      {"a value's spelling",
       [](RegistryTree& t, KeyId k) {
         t.removeValue(k, "ab");
         t.removeValue(k, "c");
         t.setValue(k, "AB", REG_SZ, std::string_view("1\0", 2));
         t.setValue(k, "c", REG_DWORD, std::string_view("\x10\0\0\0", 4));
       }},
      {"value order",
       [](RegistryTree& t, KeyId k) {
         t.removeValue(k, "ab");
         t.setValue(k, "ab", REG_SZ, std::string_view("1\0", 2));
       }},
      {"a name's end moved",
       [](RegistryTree& t, KeyId k) {
         t.removeValue(k, "ab");
         t.removeValue(k, "c");
         t.setValue(k, "a", REG_SZ, std::string_view("1\0", 2));
         t.setValue(k, "bc", REG_DWORD, std::string_view("\x10\0\0\0", 4));
       }},
      {"a key removed", [](RegistryTree& t, KeyId k) { t.removeSubkey(t.findSubkey(k, "Q77")); }},
      {"subkey order",
       [](RegistryTree& t, KeyId k) {
         t.removeSubkey(t.findSubkey(k, "Q76"));
         t.findOrAddSubkey(k, "Q76");
       }},
      {"a key one level down",
       [](RegistryTree& t, KeyId k) {
         t.removeSubkey(t.findSubkey(k, "Q77"));
         t.findOrAddSubkey(t.findSubkey(k, "Q76"), "Q77");
       }},
      {"a key under another root",
       [](RegistryTree& t, KeyId) {
         t.findOrAddSubkey(RegistryTree::rootKey(RootKey::Users), "x");
       }},
      {"an empty value", [](RegistryTree& t, KeyId k) { t.setValue(k, "", REG_SZ, ""); }},
  };
  std::set<std::string> seen{same};
  for (const auto& [what, change] : changes)
    EXPECT_TRUE(seen.insert(digest(sample(change))).second) << what;
}

}  // namespace
