// Finding what a run removed from the registry and putting it back in place.
#include "shell/backup/registry_changes.h"

#include <gtest/gtest.h>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"

namespace {

RegistryTree parse(std::string_view text) {
  auto tree = parseRegedit4(text, "test");
  EXPECT_TRUE(tree.ok()) << tree.error();
  return std::move(tree).value();
}

// How `text` lays out its roots, which its tree's text follows.
Regedit4Layout layoutOf(std::string_view text) {
  Regedit4Layout layout;
  EXPECT_TRUE(parseRegedit4(text, "test", &layout).ok());
  return layout;
}

KeyId key(const RegistryTree& tree, std::initializer_list<const char*> path) {
  KeyId at = RegistryTree::rootKey(RootKey::LocalMachine);
  for (const char* name : path) at = tree.findSubkey(at, name);
  return at;
}

// Siblings before, between and after the removed ones, values in the middle
// of a list, a removed subtree with its own subkeys, and an untouched root.
constexpr std::string_view kBefore =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A]\r\n\"v1\"=\"1\"\r\n\"v2\"=\"2\"\r\n\"v3\"=dword:00000003\r\n"
    "\"v4\"=hex:04\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K0]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K1]\r\n\"x\"=\"y\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K1\\Deep]\r\n@=\"d\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K1\\Deep\\Deeper]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K2]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K3]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\A\\K4]\r\n\r\n"
    "[HKEY_CURRENT_CONFIG]\r\n\r\n"
    "[HKEY_CURRENT_CONFIG\\Display]\r\n\"Res\"=\"640,480\"\r\n\r\n";

TEST(RegistryChanges, RemovalsFoundAndPutBackGiveTheSameTextByteForByte) {
  RegistryTree before = parse(kBefore);
  ASSERT_EQ(writeRegedit4(before, layoutOf(kBefore)),
            kBefore);  // the fixture is in the store's layout
  RegistryTree after = cloneRegistryTree(before);
  EXPECT_EQ(writeRegedit4(after, layoutOf(kBefore)), kBefore);

  // Removed as the program removes: leaves first, through the parent.
  const KeyId a = key(after, {"A"});
  const KeyId k1 = after.findSubkey(a, "K1");
  const KeyId deep = after.findSubkey(k1, "Deep");
  after.removeSubkey(after.findSubkey(deep, "Deeper"));
  after.removeSubkey(deep);
  after.removeSubkey(k1);
  after.removeSubkey(after.findSubkey(a, "K3"));
  after.removeSubkey(after.findSubkey(a, "K4"));
  after.removeValue(a, "v2");
  after.removeValue(a, "v3");

  const RegistryRemovals removals = findRemovals(before, after);
  ASSERT_EQ(removals.keys.size(), 3u);
  EXPECT_EQ(removals.keys[0].path, "HKEY_LOCAL_MACHINE\\A\\K1");
  EXPECT_EQ(removals.keys[0].position, 1u);
  EXPECT_EQ(removals.keys[1].position, 3u);
  EXPECT_EQ(removals.keys[2].position, 4u);
  ASSERT_EQ(removals.values.size(), 2u);
  EXPECT_EQ(removals.values[0].name, "v2");
  EXPECT_EQ(removals.values[0].position, 1u);

  // The saved removals go through REGEDIT4 text, as in a backup.
  const RegistryTree saved = parse(writeRegedit4(removalsAsTree(before, removals)));
  EXPECT_EQ(putBackRemovals(after, saved, removals), std::vector<std::string>{});
  EXPECT_EQ(writeRegedit4(after, layoutOf(kBefore)), kBefore);
}

TEST(RegistryChanges, PuttingBackNamesEveryPlaceThatWouldBeOverwritten) {
  RegistryTree before = parse(kBefore);
  RegistryTree after = cloneRegistryTree(before);
  const KeyId a = key(after, {"A"});
  after.removeSubkey(after.findSubkey(a, "K2"));
  after.removeValue(a, "v1");
  const RegistryRemovals removals = findRemovals(before, after);
  const RegistryTree saved = parse(writeRegedit4(removalsAsTree(before, removals)));

  // Since then: K2 and v1 came back with other contents.
  after.setValue(after.findOrAddSubkey(a, "K2"), "new", REG_SZ, std::string_view("n\0", 2));
  after.setValue(a, "v1", REG_SZ, std::string_view("other\0", 6));
  const std::string changed = writeRegedit4(after);
  const auto conflicts = putBackRemovals(after, saved, removals);
  ASSERT_EQ(conflicts.size(), 2u);
  EXPECT_EQ(conflicts[0], "HKEY_LOCAL_MACHINE\\A\\K2: the key exists again");
  EXPECT_EQ(conflicts[1], "HKEY_LOCAL_MACHINE\\A value \"v1\": the value exists again");
  EXPECT_EQ(writeRegedit4(after), changed);

  // A key that is gone cannot take its subkeys or values back.
  RegistryTree gone = parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Other]\r\n\r\n");
  const auto missing = putBackRemovals(gone, saved, removals);
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0], "HKEY_LOCAL_MACHINE\\A\\K2: the key above it is gone");
  EXPECT_EQ(missing[1], "HKEY_LOCAL_MACHINE\\A value \"v1\": the key is gone");
}

}  // namespace
