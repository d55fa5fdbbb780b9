#include <gtest/gtest.h>

#include <string>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

std::string roundTrip(std::string_view text) {
  Regedit4Layout layout;
  auto tree = parseRegedit4(text, "test.reg", &layout);
  EXPECT_TRUE(tree.ok()) << tree.error();
  return tree ? writeRegedit4(tree.value(), layout) : std::string();
}

std::string hexBytes(int first, int count) {
  std::string out;
  char buf[8];
  for (int i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, i + 1 < count ? "%02x," : "%02x", (first + i) & 0xFF);
    out += buf;
  }
  return out;
}

// The usual lines read as a reader of the file would expect: a value set
// again keeps its place and takes the last data, in any letter case.
TEST(Regedit4Format, UsualLinesReadAsWritten) {
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

// A file in the store's own layout comes back byte for byte, whatever it holds.
TEST(Regedit4Format, CanonicalFileComesBackByteForByte) {
  const std::string long_name(300, 'N');
  const std::string text = crlf({
      "REGEDIT4",
      "",
      "[HKEY_LOCAL_MACHINE]",
      "\"AtRoot\"=\"r\"",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE]",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk]",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
      // Escapes, Windows-1252 bytes and a tab are kept as they are.
      "\"Title\"=\"Kivra \\\"Q76\\\" C:\\\\x \xe9\t\x1a\"",
      "@=\"default\"",
      "\"Count\"=dword:0000002a",
      // 30 bytes: 22 on the first line (to column 77), the rest on the next.
      "\"Blob\"=hex:" + hexBytes(0, 22) + ",\\",
      "  " + hexBytes(22, 8),
      "\"Expand\"=hex(2):25,00",
      "\"Empty\"=hex(0):",
      "\"NoZero\"=hex(1):61,62",
      "\"ShortDword\"=hex(4):01,02",
      "\"" + long_name + "\"=\"long name\"",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\" + long_name + "]",
      "",
      "[HKEY_CURRENT_CONFIG\\Enum]",
      "",
  });
  EXPECT_EQ(roundTrip(text), text);
}

// The roots come back in the order in which the file first named them, an
// empty root section stays; without the file's layout, every root that holds
// something is written, in the roots' own order, and one with values only gets
// a section of its own.
TEST(Regedit4Format, RootsFollowTheLayoutReadWithTheFile) {
  const std::string text = crlf({
      "REGEDIT4",
      "",
      "[HKEY_CURRENT_CONFIG\\Display]",
      "",
      "[HKEY_USERS]",
      "",
      "[HKEY_LOCAL_MACHINE]",
      "\"AtRoot\"=\"r\"",
      "",
      "[HKEY_LOCAL_MACHINE\\Software]",
      "",
  });
  EXPECT_EQ(roundTrip(text), text);
  auto tree = parseRegedit4(text, "test.reg");
  ASSERT_TRUE(tree.ok()) << tree.error();
  EXPECT_EQ(writeRegedit4(tree.value()), crlf({
                                             "REGEDIT4",
                                             "",
                                             "[HKEY_LOCAL_MACHINE]",
                                             "\"AtRoot\"=\"r\"",
                                             "",
                                             "[HKEY_LOCAL_MACHINE\\Software]",
                                             "",
                                             "[HKEY_CURRENT_CONFIG\\Display]",
                                             "",
                                         }));
}

// Input in another layout keeps every key, value, type, byte and order, and is
// written in the canonical layout.
TEST(Regedit4Format, OtherLayoutsKeepEverything) {
  const std::string text =
      "REGEDIT4\n"
      "[HKEY_CURRENT_CONFIG\\Enum\\MF]\n"  // HKCC named first: it is written first
      "  \"a\" = \"1\"  \n"                // blanks around = and after the value
      "\n"
      "[hkey_local_machine\\B\\Deep\\Er]\n"  // implies B and B\Deep, root in any case
      "[HKEY_LOCAL_MACHINE\\A]\n"
      "\"bin\"=HEX:1,02, 3,\\\n"  // one-digit bytes, blanks, continuation
      "\t ff\n"
      "\"\"=\"default by empty name\"\n"
      "\"d\"=DWORD:2A\n"
      "[HKEY_LOCAL_MACHINE\\b\\Second]\n"  // same key B in other case: same key
      "[HKEY_LOCAL_MACHINE\\A]\r\n"        // A again: adds to A
      "\"BIN\"=hex:09\r\n"                 // same value: keeps place, takes data
      "\"z\"=hex(7):61,00,00,00";          // no line end at the end of the file
  const std::string expected = crlf({
      "REGEDIT4",
      "",
      "[HKEY_CURRENT_CONFIG\\Enum]",
      "",
      "[HKEY_CURRENT_CONFIG\\Enum\\MF]",
      "\"a\"=\"1\"",
      "",
      "[HKEY_LOCAL_MACHINE\\B]",
      "",
      "[HKEY_LOCAL_MACHINE\\B\\Deep]",
      "",
      "[HKEY_LOCAL_MACHINE\\B\\Deep\\Er]",
      "",
      "[HKEY_LOCAL_MACHINE\\B\\Second]",
      "",
      "[HKEY_LOCAL_MACHINE\\A]",
      "\"bin\"=hex:09",
      "@=\"default by empty name\"",
      "\"d\"=dword:0000002a",
      "\"z\"=hex(7):61,00,00,00",
      "",
  });
  const std::string written = roundTrip(text);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(roundTrip(written), written);
}

// Names of any length and hex data of any size survive; long data wraps.
TEST(Regedit4Format, HugeNamesAndDataAreKept) {
  const std::string name(5000, 'k');
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + name + "]\r\n\"v\"=hex:";
  for (int i = 0; i < 10000; ++i) text += i == 0 ? "ab" : ",ab";
  text += "\r\n";
  auto tree = parseRegedit4(text, "big.reg");
  ASSERT_TRUE(tree.ok()) << tree.error();
  const RegistryTree& loaded = tree.value();
  const KeyId key = loaded.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), name);
  ASSERT_NE(key, kNoKey);
  EXPECT_EQ(loaded.findValue(key, "V")->data, std::string(10000, '\xab'));
  const std::string written = writeRegedit4(tree.value());
  EXPECT_EQ(roundTrip(written), written);
  for (std::size_t start = 0, end; (end = written.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    if (written.compare(start, 1, "[") != 0) {
      EXPECT_LE(end - start, 80u);
    }
  }
}

// The longest lines the writer can make: names that are all escapes, hex data
// of every length around the wraps, under every type, each read back as it was.
TEST(Regedit4Format, EscapedNamesAndWrappedHexOfEverySizeComeBack) {
  auto tree = parseRegedit4("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n", "k.reg");
  ASSERT_TRUE(tree.ok()) << tree.error();
  RegistryTree& made = tree.value();
  const KeyId key = made.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "K");
  const DWORD types[] = {REG_BINARY, REG_SZ, REG_DWORD, 0xFFFFFFFFu};
  std::string data;
  for (int size = 0; size <= 80; ++size) {
    for (const DWORD type : types) {
      // "\"\\..." with the size and type in it, to keep the names apart.
      std::string name(size % 7 * 40, size % 2 ? '"' : '\\');
      name += std::to_string(size) + "/" + std::to_string(type);
      made.setValue(key, name, type, data);
    }
    data.push_back(static_cast<char>(size * 37));
  }
  const std::string written = writeRegedit4(made);
  auto read = parseRegedit4(written, "written.reg");
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(writeRegedit4(read.value()), written);
  const KeyId read_key = read.value().findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "K");
  ASSERT_NE(read_key, kNoKey);
  std::size_t compared = 0;
  made.forEachValue(key, [&](const RegistryValue& value) {
    const auto back = read.value().findValue(read_key, value.name);
    ASSERT_TRUE(back.has_value()) << value.name;
    EXPECT_EQ(back->type, value.type) << value.name;
    EXPECT_EQ(back->data, value.data) << value.name;
    ++compared;
  });
  EXPECT_EQ(compared, 81u * 4u);
}

// Malformed and hostile input is refused with the file name and line number.
TEST(Regedit4Format, MalformedInputIsRefusedWithItsLine) {
  struct Case {
    const char* what;
    std::string text;
    int line;
  };
  const std::string head = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
  const Case cases[] = {
      {"empty file", "", 1},
      {"other header", "REGEDIT5\r\n", 1},
      // The header is the whole first line: neither a longer word nor more
      // after it.
      {"longer header", "REGEDIT45\r\n", 1},
      {"header and more", "REGEDIT4 junk\r\n", 1},
      {"header not first", "\r\nREGEDIT4\r\n", 1},
      {"value before any key", "REGEDIT4\r\n\"a\"=\"b\"\r\n", 2},
      {"truncated key line", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K\r\n", 2},
      {"unknown root", "REGEDIT4\r\n[HKEY_NOWHERE\\K]\r\n", 2},
      {"doubled backslash", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\\\K]\r\n", 2},
      {"trailing backslash", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K\\]\r\n", 2},
      {"text after ]", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K] x\r\n", 2},
      {"key deletion", "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\K]\r\n", 2},
      {"value deletion", head + "\"a\"=-\r\n", 3},
      {"bad escape", head + "\"a\"=\"x\\n\"\r\n", 3},
      {"unterminated text", head + "\"a\"=\"abc\r\n", 3},
      {"unterminated name", head + "\"abc=\"x\"\r\n", 3},
      {"escape at line end", head + "\"a\"=\"abc\\\r\n", 3},
      {"missing =", head + "\"a\" \"b\"\r\n", 3},
      {"text after value", head + "\"a\"=\"b\" c\r\n", 3},
      {"bad hex byte", head + "\"a\"=hex:zz\r\n", 3},
      {"three-digit hex", head + "\"a\"=hex:123\r\n", 3},
      {"stray comma", head + "\"a\"=hex:01,,02\r\n", 3},
      {"trailing comma", head + "\"a\"=hex:01,\r\n", 3},
      {"continuation without comma", head + "\"a\"=hex:01\\\r\n  02\r\n", 3},
      {"bad byte on continuation", head + "\"a\"=hex:01,\\\r\n  0g\r\n", 4},
      {"continued past the end", head + "\"a\"=hex:01,\\", 3},
      {"bad hex type", head + "\"a\"=hex(zz):01\r\n", 3},
      {"unclosed hex type", head + "\"a\"=hex(2:01\r\n", 3},
      {"dword too long", head + "\"a\"=dword:123456789\r\n", 3},
      {"dword not hex", head + "\"a\"=dword:12x4\r\n", 3},
      {"empty dword", head + "\"a\"=dword:\r\n", 3},
      {"unknown data", head + "\"a\"=qword:1\r\n", 3},
      {"garbage line", head + "; a comment\r\n", 3},
      {"NUL byte", head + "\"a\"=\"x" + std::string(1, '\0') + "y\"\r\n", 3},
  };
  for (const auto& c : cases) {
    auto tree = parseRegedit4(c.text, "/m/registry.reg");
    ASSERT_FALSE(tree.ok()) << c.what;
    const std::string prefix = "/m/registry.reg: line " + std::to_string(c.line) + ": ";
    EXPECT_EQ(tree.error().rfind(prefix, 0), 0u) << c.what << ": " << tree.error();
  }
}

// Key paths deeper than the registry allows are refused, not walked.
TEST(Regedit4Format, OverDeepKeyPathIsRefused) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 512; ++i) path += "\\k";
  EXPECT_TRUE(parseRegedit4("REGEDIT4\n[" + path + "]\n", "x").ok());
  EXPECT_FALSE(parseRegedit4("REGEDIT4\n[" + path + "\\k]\n", "x").ok());
  std::string hostile = "REGEDIT4\n[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 100000; ++i) hostile += "\\a";
  EXPECT_FALSE(parseRegedit4(hostile + "]\n", "x").ok());

  // Too deep is said before an empty name, wherever in the path either is,
  // also when the path goes on from a section that it shares keys with.
  const auto error = [](const std::string& text) {
    auto tree = parseRegedit4(text, "x");
    return tree ? std::string("read") : tree.error();
  };
  const std::string deeper = ": a key path deeper than 512 levels";
  const std::string empty = ": a key path with an empty name (a stray backslash)";
  EXPECT_EQ(error("REGEDIT4\n[" + path + "\\k]\n"), "x: line 2" + deeper);
  EXPECT_EQ(error("REGEDIT4\n[" + path + "\\]\n"), "x: line 2" + deeper);
  EXPECT_EQ(error("REGEDIT4\n[HKEY_LOCAL_MACHINE\\\\" + path.substr(19) + "]\n"),
            "x: line 2" + deeper);
  EXPECT_EQ(error("REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\\\\b]\n"), "x: line 2" + empty);
  EXPECT_EQ(error("REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\\]\n"), "x: line 2" + empty);
  const std::string half = path.substr(0, 18 + 2 * 300);
  EXPECT_EQ(error("REGEDIT4\n[" + half + "]\n\n[" + path + "]\n"), "read");
  EXPECT_EQ(error("REGEDIT4\n[" + half + "]\n\n[" + path + "\\x]\n"), "x: line 4" + deeper);
  EXPECT_EQ(error("REGEDIT4\n[" + half + "]\n\n[" + half + "\\\\x]\n"), "x: line 4" + empty);
  EXPECT_EQ(error("REGEDIT4\n[" + half + "]\n\n[" + half + "\\x\\]\n"), "x: line 4" + empty);
}

// A tree of ordinary names comes back from its text; each name the text cannot
// carry, and a key too deep, does not.
TEST(Regedit4Format, OnlyATreeOfNamesTheTextCarriesComesBackFromIt) {
  const auto build = [](std::string_view keyName, std::string_view valueName, int depth) {
    RegistryTree tree;
    KeyId key = tree.findOrAddSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "Software");
    tree.setValue(key, "q\"uote\\d \r", REG_SZ, std::string_view("a\"b\\c\r\0", 7));
    tree.setValue(key, "", 7, std::string_view("x\0y\0\0", 5));
    tree.setValue(key, "empty", REG_BINARY, std::string_view());
    const KeyId other = tree.findOrAddSubkey(key, " Caf\xe9 ]x[ \r");
    tree.setValue(other, "Size", REG_DWORD, std::string_view("\x10\0\0\0", 4));
    tree.setValue(tree.findOrAddSubkey(key, keyName), valueName, REG_SZ, std::string_view("", 1));
    for (int i = 1; i < depth; ++i) key = tree.findOrAddSubkey(key, "k");
    tree.setValue(RegistryTree::rootKey(RootKey::CurrentConfig), "at the root", REG_SZ,
                  std::string_view("1", 2));
    return tree;
  };
  // Whether the tree's text reads back into a tree whose text is the same.
  const auto comesBack = [](const RegistryTree& tree) {
    const std::string text = writeRegedit4(tree);
    auto again = parseRegedit4(text, "x");
    return again && writeRegedit4(again.value()) == text;
  };
  const RegistryTree fine = build("R\xe9glages", "Nom", 512);
  EXPECT_TRUE(comesBack(fine));
  const struct {
    std::string_view keyName, valueName;
    int depth;
    const char* what;
  } cases[] = {
      {std::string_view("a\0b", 3), "v", 2, "a NUL byte in a key name"},
      {"a\nb", "v", 2, "a line feed in a key name"},
      {"a\\b", "v", 2, "a backslash in a key name"},
      {"", "v", 2, "an empty key name"},
      {"a", std::string_view("v\0w", 3), 2, "a NUL byte in a value name"},
      {"a", "v\nw", 2, "a line feed in a value name"},
      {"a", "v", 513, "a key 513 levels deep"},
  };
  for (const auto& c : cases) {
    const RegistryTree tree = build(c.keyName, c.valueName, c.depth);
    EXPECT_FALSE(comesBack(tree)) << c.what;
  }
}
