// Trying removals on the registry itself and undoing them: the removals the
// tree records give the same list as comparing the trees before and after,
// undoing them gives back the registry byte for byte, and a store never
// writes what a preview left.
#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <vector>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "shell/backup/registry_changes.h"
#include "shell/backup/sha256.h"
#include "tests/support/active_registry.h"
#include "tests/support/temp_dir.h"

namespace {

RegistryTree parse(std::string_view text, Regedit4Layout* layout = nullptr) {
  auto tree = parseRegedit4(text, "test", layout);
  EXPECT_TRUE(tree.ok()) << tree.error();
  return std::move(tree).value();
}

// Every kind of value, the default value, names that need escapes, a key with
// more subkeys than are searched in turn, and keys under several roots.
std::string sampleText() {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n";
  text += "@=\"default\"\r\n\"sz\"=\"text \\\"quoted\\\" \\\\ back\"\r\n";
  text += "\"dword\"=dword:0000002a\r\n\"bin\"=hex:00,01,fe,ff\r\n";
  text += "\"expand\"=hex(2):25,57,49,4e,25,00\r\n\"multi\"=hex(7):61,00,62,00,00\r\n";
  text += "\"none\"=hex(0):\r\n\"odd\"=hex(80000001):01,02\r\n\"nozero\"=hex(1):61,62\r\n\r\n";
  for (int i = 0; i < 14; ++i) {
    const std::string key = "[HKEY_LOCAL_MACHINE\\A\\K" + std::to_string(i) + "]\r\n";
    text += key;
    for (int v = 0; v < i % 4; ++v)
      text += "\"v" + std::to_string(v) + "\"=dword:0000000" + std::to_string(v) + "\r\n";
    text += "\r\n";
    if (i % 3 == 0) {
      for (int j = 0; j < 3; ++j) {
        text += key.substr(0, key.size() - 3) + "\\S" + std::to_string(j) + "]\r\n";
        text += "\"s\"=\"" + std::to_string(j) + "\"\r\n\r\n";
      }
    }
  }
  text += "[HKEY_CURRENT_CONFIG]\r\n\r\n[HKEY_CURRENT_CONFIG\\Display]\r\n\"Res\"=\"640,480\"\r\n";
  text += "\"Depth\"=dword:00000008\r\n\r\n";
  return text;
}

// The keys of the tree below the roots, depth first.
void collectKeys(RegistryTree& tree, KeyId key, std::vector<KeyId>& out) {
  for (std::size_t i = 0;; ++i) {
    const KeyId child = tree.subkeyAt(key, i);
    if (child == kNoKey) break;
    out.push_back(child);
    collectKeys(tree, child, out);
  }
}

// One step of removals as the program makes them: some leaf keys, values of
// keys that stay and of keys that go, reading the subkeys by position in
// between so that the gaps are squeezed out.
void removeSome(RegistryTree& tree, std::mt19937& random) {
  for (int i = 0; i < 6; ++i) {
    std::vector<KeyId> keys;
    for (std::size_t r = 0; r < kRootKeyCount; ++r)
      collectKeys(tree, RegistryTree::rootKey(static_cast<RootKey>(r)), keys);
    if (keys.empty()) return;
    const KeyId key = keys[random() % keys.size()];
    if (random() % 2 == 0) {
      std::vector<std::string> names;
      tree.forEachValue(key, [&](const RegistryValue& value) { names.emplace_back(value.name); });
      if (!names.empty()) tree.removeValue(key, names[random() % names.size()]);
    } else if (!tree.hasSubkeys(key)) {
      tree.removeSubkey(key);
    }
  }
}

TEST(RemovalLog, GivesWhatComparingTheTreesGivesAndUndoesToTheSameText) {
  const std::string text = sampleText();
  Regedit4Layout layout;
  ASSERT_EQ(writeRegedit4(parse(text, &layout), layout), text);  // in the store's layout
  for (unsigned seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    RegistryTree tree = parse(text);
    std::vector<TreeRemoval> log;
    tree.recordRemovals(&log);
    for (int step = 0; step < 3; ++step) {
      const RegistryTree before = cloneRegistryTree(tree);
      const std::size_t first = log.size();
      removeSome(tree, random);
      const std::string after_text = writeRegedit4(tree, layout);
      const RegistryRemovals expected = findRemovals(before, tree);

      for (std::size_t i = log.size(); i-- > first;) tree.undoRemoval(log[i]);
      ASSERT_EQ(writeRegedit4(tree), writeRegedit4(before));
      const RegistryRemovals found = removalsFromLog(tree, std::span(log).subspan(first));
      ASSERT_EQ(found.keys.size(), expected.keys.size());
      for (std::size_t i = 0; i < found.keys.size(); ++i) {
        EXPECT_EQ(found.keys[i].path, expected.keys[i].path);
        EXPECT_EQ(found.keys[i].position, expected.keys[i].position);
      }
      ASSERT_EQ(found.values.size(), expected.values.size());
      for (std::size_t i = 0; i < found.values.size(); ++i) {
        EXPECT_EQ(found.values[i].keyPath, expected.values[i].keyPath);
        EXPECT_EQ(found.values[i].name, expected.values[i].name);
        EXPECT_EQ(found.values[i].position, expected.values[i].position);
      }
      EXPECT_EQ(writeRegedit4(removalsAsTree(tree, found)),
                writeRegedit4(removalsAsTree(before, expected)));

      for (std::size_t i = first; i < log.size(); ++i) tree.redoRemoval(log[i]);
      ASSERT_EQ(writeRegedit4(tree, layout), after_text);
      EXPECT_EQ(backup::registryTextDigest(tree, layout), backup::sha256Hex(after_text));
    }
    for (std::size_t i = log.size(); i-- > 0;) tree.undoRemoval(log[i]);
    tree.recordRemovals(nullptr);
    ASSERT_EQ(writeRegedit4(tree, layout), text);
    EXPECT_EQ(backup::registryTextDigest(tree, layout), backup::sha256Hex(text));
  }
}

TEST(RemovalLog, CopiesDoNotRecordAndUndoneKeysKeepTheirHandles) {
  auto store = RegistryStore::fromText(sampleText());
  ASSERT_TRUE(store.ok()) << store.error();
  test_support::ScopedActiveRegistry active(store.value().get());
  HKEY held = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\K7", 0, KEY_ALL_ACCESS, &held), ERROR_SUCCESS);

  std::vector<TreeRemoval> log;
  store.value()->beginPreview(log);
  RegistryTree copy = cloneRegistryTree(store.value()->tree());
  const KeyId a = copy.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "A");
  copy.removeSubkey(copy.findSubkey(a, "K1"));
  EXPECT_TRUE(log.empty());

  ASSERT_EQ(RegDeleteValueA(held, "v0"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "A\\K7"), ERROR_SUCCESS);
  EXPECT_EQ(log.size(), 2u);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(held, "v1", nullptr, &type, nullptr, nullptr), ERROR_KEY_DELETED);
  for (std::size_t i = log.size(); i-- > 0;) store.value()->tree().undoRemoval(log[i]);
  store.value()->endPreview(true);
  EXPECT_FALSE(store.value()->dirty());
  EXPECT_EQ(store.value()->toText(), sampleText());
  // The key is the same one again, so a handle opened before still reaches it.
  EXPECT_EQ(RegQueryValueExA(held, "v1", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(RegCloseKey(held), ERROR_SUCCESS);
}

TEST(RemovalLog, AStoreWritesNothingDuringAPreviewNorAfterOneItCouldNotUndo) {
  test_support::TempDir dir;
  const auto file = dir / "registry.reg";
  test_support::writeFile(file, sampleText());
  auto opened = RegistryStore::open(file);
  ASSERT_TRUE(opened.ok()) << opened.error();
  RegistryStore& store = *opened.value();
  test_support::ScopedActiveRegistry active(&store);

  std::vector<TreeRemoval> log;
  store.beginPreview(log);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "A\\K1"), ERROR_SUCCESS);
  // A removal tried out is not a change to save, and no save goes through,
  // not even of a change made before.
  EXPECT_FALSE(store.dirty());
  EXPECT_TRUE(store.flush().ok());
  store.endPreview(true);
  store.markDirty();
  store.beginPreview(log);
  const auto saved = store.flush();
  ASSERT_FALSE(saved.ok());
  EXPECT_NE(saved.error().find("previewed"), std::string::npos) << saved.error();
  EXPECT_EQ(test_support::readFile(file), sampleText());

  // Left undone, the store is never written again, whatever asks for it.
  store.endPreview(false);
  EXPECT_TRUE(store.damaged());
  store.markDirty();
  const auto flushed = store.flush();
  ASSERT_FALSE(flushed.ok());
  EXPECT_NE(flushed.error().find(file.string()), std::string::npos) << flushed.error();
  EXPECT_FALSE(store.close().ok());
  EXPECT_EQ(test_support::readFile(file), sampleText());
}

}  // namespace
