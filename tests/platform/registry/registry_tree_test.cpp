// The key tree at sizes where its subkeys are indexed, and the writer's
// output in pieces, as a large registry loads and saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

// HKLM\Many with `count` subkeys Sub0000, Sub0001, ..., each with one value.
std::string manySubkeys(int count) {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Many]\r\n\r\n";
  char line[96];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line,
                  "[HKEY_LOCAL_MACHINE\\Many\\Sub%04d]\r\n\"N\"=dword:%08x\r\n\r\n", i,
                  static_cast<unsigned>(i));
    text += line;
  }
  return text;
}

std::string subkeyName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "Sub%04d", i);
  return name;
}

std::vector<std::string> enumerate(HKEY key) {
  std::vector<std::string> names;
  char name[260];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, size);
  }
  return names;
}

// Few subkeys are searched in turn, many through an index; both find keys in
// any letter case, forget removed ones, and keep the order of the rest.
TEST(RegistryTree, LookupAndRemovalWithFewAndManySubkeys) {
  for (int count : {3, 8, 9, 200}) {
    SCOPED_TRACE(count);
    ActiveStore store(manySubkeys(count));
    HKEY many = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "MANY", 0, KEY_READ, &many), ERROR_SUCCESS);
    HKEY last = nullptr;
    const std::string last_path = "many\\sub" + subkeyName(count - 1).substr(3);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, last_path.c_str(), 0, KEY_READ, &last),
              ERROR_SUCCESS);
    // Remove every even subkey, spelled in capitals.
    std::vector<std::string> kept;
    for (int i = 0; i < count; ++i) {
      std::string name = subkeyName(i);
      if (i % 2 == 1) {
        kept.push_back(name);
        continue;
      }
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(RegDeleteKeyA(many, name.c_str()), ERROR_SUCCESS) << name;
      EXPECT_EQ(RegDeleteKeyA(many, name.c_str()), ERROR_FILE_NOT_FOUND) << name;
    }
    EXPECT_EQ(enumerate(many), kept);
    DWORD subkeys = 0;
    ASSERT_EQ(RegQueryInfoKeyA(many, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, kept.size());
    // Every kept key opens and reads; a handle to a removed one fails.
    for (const auto& name : kept) {
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyExA(many, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << name;
      DWORD value = 0;
      DWORD size = sizeof value;
      EXPECT_EQ(
          RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
          ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(std::stoi(name.substr(3))));
      RegCloseKey(key);
    }
    const LONG expected = (count - 1) % 2 == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
    EXPECT_EQ(RegQueryInfoKeyA(last, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              expected);
    RegCloseKey(last);
    RegCloseKey(many);
  }
}

// A section named again, in other letters, adds to the key it named first,
// whether the parent's subkeys are few or indexed.
TEST(RegistryTree, RepeatedSectionAddsToTheFirstKey) {
  for (int count : {3, 50}) {
    SCOPED_TRACE(count);
    const std::string text = manySubkeys(count) +
                             "[hkey_local_machine\\MANY\\SUB0001]\r\n\"Extra\"=\"x\"\r\n"
                             "\"n\"=dword:0000beef\r\n";
    auto tree = parseRegedit4(text, "test.reg");
    ASSERT_TRUE(tree.ok()) << tree.error();
    const std::string written = writeRegedit4(tree.value());
    EXPECT_EQ(written.find("SUB0001"), std::string::npos);
    EXPECT_NE(written.find("[HKEY_LOCAL_MACHINE\\Many\\Sub0001]\r\n\"N\"=dword:0000beef\r\n"
                           "\"Extra\"=\"x\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Many\\Sub0002]"),
              std::string::npos);
  }
}

// The writer hands a large registry over in several pieces that make up
// exactly the whole text, and stops as soon as the receiver fails.
TEST(RegistryTree, WriterHandsOverPiecesThatMakeTheWholeText) {
  auto tree = parseRegedit4(manySubkeys(20000), "big.reg");
  ASSERT_TRUE(tree.ok()) << tree.error();
  const std::string whole = writeRegedit4(tree.value());
  ASSERT_GT(whole.size(), 1000000u);
  std::string joined;
  int pieces = 0;
  EXPECT_TRUE(writeRegedit4(tree.value(), [&](std::string_view piece) {
    ++pieces;
    joined += piece;
    return true;
  }));
  EXPECT_GT(pieces, 1);
  EXPECT_EQ(joined, whole);

  int calls = 0;
  EXPECT_FALSE(writeRegedit4(tree.value(), [&](std::string_view) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);
}

// A key put back at a position lands there among its live siblings, whether
// they are few or indexed and whether removed ones left empty slots; it is
// found in any letter case afterwards, and removing a key after it still
// removes the right one. A name that is there already is refused.
TEST(RegistryTree, SubkeyInsertedAtAPositionAmongFewAndIndexedSubkeys) {
  for (int count : {3, 8, 40}) {
    SCOPED_TRACE(count);
    auto parsed = parseRegedit4(manySubkeys(count), "test.reg");
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    RegistryTree& tree = parsed.value();
    const KeyId many = tree.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "Many");
    ASSERT_NE(many, kNoKey);
    tree.removeSubkey(tree.findSubkey(many, subkeyName(0).c_str()));
    std::vector<std::string> names;
    for (int i = 1; i < count; ++i) names.push_back(subkeyName(i));

    const KeyId back = tree.insertSubkeyAt(many, 1, "Back");
    ASSERT_NE(back, kNoKey);
    names.insert(names.begin() + 1, "Back");
    const KeyId first = tree.insertSubkeyAt(many, 0, "First");
    names.insert(names.begin(), "First");
    const KeyId last = tree.insertSubkeyAt(many, 1000, "Last");
    names.push_back("Last");
    EXPECT_EQ(tree.insertSubkeyAt(many, 0, "BACK"), kNoKey);
    EXPECT_EQ(tree.insertSubkeyAt(many, 0, subkeyName(count - 1)), kNoKey);

    std::vector<std::string> seen;
    tree.forEachSubkey(many, [&](KeyId child) { seen.emplace_back(tree.name(child)); });
    EXPECT_EQ(seen, names);
    EXPECT_EQ(tree.subkeyCount(many), names.size());
    EXPECT_EQ(tree.findSubkey(many, "back"), back);
    EXPECT_EQ(tree.findSubkey(many, "FIRST"), first);
    EXPECT_EQ(tree.findSubkey(many, "last"), last);
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(tree.name(tree.subkeyAt(many, i)), names[i]) << i;
    }

    // Keys after an insert moved; each is still removed from its own place.
    tree.removeSubkey(tree.findSubkey(many, subkeyName(count - 1).c_str()));
    tree.removeSubkey(back);
    names.erase(names.end() - 2);
    names.erase(names.begin() + 2);
    seen.clear();
    tree.forEachSubkey(many, [&](KeyId child) { seen.emplace_back(tree.name(child)); });
    EXPECT_EQ(seen, names);
    EXPECT_TRUE(tree.deleted(back));
    EXPECT_EQ(tree.findSubkey(many, "Back"), kNoKey);
  }
}

// A value put back at a position lands there; one put past the end becomes
// the last, after which a new value still goes at the end. A name that is
// there in any letter case is refused and leaves the value as it was.
TEST(RegistryTree, ValueInsertedAtAPosition) {
  auto parsed = parseRegedit4(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"b\"=\"2\"\r\n\"d\"=\"4\"\r\n\r\n", "test.reg");
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  RegistryTree& tree = parsed.value();
  const KeyId key = tree.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "K");
  ASSERT_NE(key, kNoKey);
  const auto value = [](std::string_view name, std::string_view data) {
    return RegistryValue{name, REG_SZ, data};
  };
  EXPECT_TRUE(tree.insertValueAt(key, 1, value("c", std::string_view("3\0", 2))));
  EXPECT_TRUE(tree.insertValueAt(key, 0, value("a", std::string_view("1\0", 2))));
  EXPECT_TRUE(tree.insertValueAt(key, 99, value("e", std::string_view("5\0", 2))));
  EXPECT_FALSE(tree.insertValueAt(key, 0, value("B", std::string_view("x\0", 2))));
  tree.setValue(key, "f", REG_SZ, std::string_view("6\0", 2));
  EXPECT_EQ(writeRegedit4(tree),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n"
            "\"c\"=\"3\"\r\n\"d\"=\"4\"\r\n\"e\"=\"5\"\r\n\"f\"=\"6\"\r\n\r\n");

  // Into a key without values, and after its only value was removed.
  const KeyId empty = tree.findOrAddSubkey(key, "Empty");
  EXPECT_TRUE(tree.insertValueAt(empty, 3, value("only", std::string_view("o\0", 2))));
  EXPECT_TRUE(tree.removeValue(empty, "ONLY"));
  EXPECT_TRUE(tree.insertValueAt(empty, 0, value("again", std::string_view("g\0", 2))));
  tree.setValue(empty, "next", REG_SZ, std::string_view("n\0", 2));
  std::vector<std::string> names;
  tree.forEachValue(empty, [&](const RegistryValue& v) { names.emplace_back(v.name); });
  EXPECT_EQ(names, (std::vector<std::string>{"again", "next"}));
}

// Subkeys made, sought, removed and put back at random, mostly in rising
// order of their names as files list them, in any letter case (accented
// letters included), across the sizes where a list is searched in turn, by
// halves or through an index: the tree holds the same keys in the same order
// as a plain list of them, and finds each name where the list has it.
TEST(RegistryTree, SubkeysInAndOutOfOrderAgreeWithAPlainList) {
  // Name `base` in a letter case drawn from `bits`: K, the number, an é.
  const auto spelled = [](int base, unsigned bits) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", base);
    std::string name = std::string(bits & 1 ? "k" : "K") + digits + (bits & 2 ? "\xE9" : "\xC9");
    if (base % 7 == 0) name += bits & 4 ? "x" : "X";  // A longer name after a shorter one.
    return name;
  };
  for (unsigned seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const auto draw = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    RegistryTree tree;
    const KeyId parent = tree.findOrAddSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "P");
    std::vector<int> bases;  // The live subkeys' names, in order.
    std::vector<KeyId> ids;
    const auto idOf = [&](int base) {
      const auto at = std::find(bases.begin(), bases.end(), base);
      return at == bases.end() ? kNoKey : ids[static_cast<std::size_t>(at - bases.begin())];
    };
    // As a file lists them: rising, with some names skipped.
    int next = 0;
    for (const int count = draw(40); next < count; ++next) {
      if (draw(4) == 0) continue;
      ids.push_back(tree.findOrAddSubkey(parent, spelled(next, random())));
      bases.push_back(next);
    }
    for (int step = 0; step < 80; ++step) {
      // Mostly the last name or a new one after it; sometimes any.
      const int pick = draw(4);
      const int base = pick == 0 && !bases.empty() ? bases.back()
                       : pick == 1                 ? next++
                                                   : draw(next + 1);
      const KeyId known = idOf(base);
      const int action = draw(10);
      if (action < 6) {  // A section for the name, anywhere in the file.
        const KeyId got = tree.findOrAddSubkey(parent, spelled(base, random()));
        if (known != kNoKey) {
          EXPECT_EQ(got, known) << base;
        } else {
          bases.push_back(base);
          ids.push_back(got);
        }
      } else if (action < 8) {
        EXPECT_EQ(tree.findSubkey(parent, spelled(base, random())), known) << base;
      } else if (action == 8) {
        if (known != kNoKey) {
          tree.removeSubkey(known);
          const auto at = std::find(ids.begin(), ids.end(), known);
          bases.erase(bases.begin() + (at - ids.begin()));
          ids.erase(at);
        }
      } else {
        const auto position = static_cast<std::size_t>(draw(static_cast<int>(bases.size()) + 2));
        const KeyId got = tree.insertSubkeyAt(parent, position, spelled(base, random()));
        if (known != kNoKey) {
          EXPECT_EQ(got, kNoKey) << base;
        } else {
          const auto place = static_cast<std::ptrdiff_t>(std::min(position, bases.size()));
          bases.insert(bases.begin() + place, base);
          ids.insert(ids.begin() + place, got);
        }
      }
      std::vector<KeyId> seen;
      tree.forEachSubkey(parent, [&](KeyId child) { seen.push_back(child); });
      ASSERT_EQ(seen, ids) << "step " << step;
      for (int b = 0; b <= next; ++b) {
        ASSERT_EQ(tree.findSubkey(parent, spelled(b, random())), idOf(b)) << "step " << step;
      }
    }
  }
}

}  // namespace
