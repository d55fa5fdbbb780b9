// The registry file as a hostile or careless user may leave it: a named pipe,
// a UTF-16 export of a later regedit, a file owned by someone else, a pipe
// where the save's temporary goes; and the names and sections a rewrite must
// keep as they are.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/registry/name_fold.h"
#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

// Opening a named pipe would wait for ever: after 10 s the test process ends
// instead of holding the suite until its timeout.
class Deadline {
 public:
  Deadline() { ::alarm(10); }
  ~Deadline() { ::alarm(0); }
};

const std::string kSmall = crlf({
    "REGEDIT4",
    "",
    "[HKEY_LOCAL_MACHINE]",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk]",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
    "\"Title\"=\"Kivra Q76\"",
    "",
    "[HKEY_CURRENT_CONFIG]",
    "",
});

bool opens(const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

TEST(HostileRegistry, RootSectionsWithoutValuesSurviveARewrite) {
  // Read and written again, and saved by the store after a change: the
  // empty [HKEY_LOCAL_MACHINE] and [HKEY_CURRENT_CONFIG] sections stay.
  Regedit4Layout layout;
  auto tree = parseRegedit4(kSmall, "test.reg", &layout);
  ASSERT_TRUE(tree.ok()) << tree.error();
  EXPECT_EQ(writeRegedit4(tree.value(), layout), kSmall);

  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  writeFile(path, kSmall);
  auto store = RegistryStore::open(path);
  ASSERT_TRUE(store.ok()) << store.error();
  {
    ScopedActiveRegistry active(store.value().get());
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"), ERROR_SUCCESS);
  }
  ASSERT_TRUE(store.value()->flush().ok());
  std::string expected = kSmall;
  const std::string product =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]\r\n"
      "\"Title\"=\"Kivra Q76\"\r\n\r\n";
  expected.erase(expected.find(product), product.size());
  EXPECT_EQ(readFile(path), expected);
}

TEST(HostileRegistry, WindowsLettersFoldAndSignsDoNot) {
  // Windows-1252 letters have capitals: é/É, š/Š, œ/Œ, ž/Ž, ÿ/Ÿ, à/À, þ/Þ.
  EXPECT_TRUE(namesEqual("caf\xe9", "CAF\xc9"));
  EXPECT_TRUE(namesEqual("\x9a\x9c\x9e\xff", "\x8a\x8c\x8e\x9f"));
  EXPECT_TRUE(namesEqual("\xe0\xfe", "\xc0\xde"));
  // Signs have none: ÷ is not ×; ß, µ and ª stay themselves.
  EXPECT_FALSE(namesEqual("\xf7", "\xd7"));
  EXPECT_EQ(foldName("\xf7\xd7\xdf\xb5\xaa"), "\xf7\xd7\xdf\xb5\xaa");
  // Names order by their capitals, a prefix first and high bytes after ASCII;
  // they compare equal exactly when they are equal above.
  EXPECT_EQ(compareNames("caf\xe9", "CAF\xc9"), 0);
  EXPECT_LT(compareNames("key", "KEY0"), 0);
  EXPECT_GT(compareNames("b", "A"), 0);
  EXPECT_LT(compareNames("Key10", "key9"), 0);
  EXPECT_GT(compareNames("\xe9", "Z"), 0);
  EXPECT_NE(compareNames("a\xf7", "A\xd7"), 0);
  // Long names alike up to one byte, at every place and in other letter cases
  // before it, order by that byte's capital, or by length where one is a
  // prefix of the other.
  const std::string base = "HKLM Software Vesk Q76 Driver\xe9s";
  for (std::size_t size = 1; size <= base.size(); ++size) {
    const std::string a = base.substr(0, size);
    std::string shouted = foldName(a);
    EXPECT_EQ(compareNames(a, shouted), 0) << a;
    EXPECT_LT(compareNames(a.substr(0, size - 1), shouted), 0) << a;
    for (std::size_t at = 0; at < size; ++at) {
      std::string b = shouted;
      b[at] = '~';  // Above every capital letter, below the high bytes.
      const int expected = static_cast<unsigned char>(shouted[at]) < '~' ? -1 : 1;
      EXPECT_EQ(compareNames(a, b) < 0 ? -1 : 1, expected) << a << " / " << b;
      EXPECT_EQ(compareNames(b, a) < 0 ? -1 : 1, -expected) << a << " / " << b;
      EXPECT_EQ(compareNames(shouted, b) < 0 ? -1 : 1, expected) << shouted << " / " << b;
    }
  }
  // The store finds keys the same way.
  auto store = RegistryStore::fromText(crlf({
      "REGEDIT4",
      "",
      "[HKEY_LOCAL_MACHINE\\Caf\xe9]",
      "",
      "[HKEY_LOCAL_MACHINE\\a\xf7"
      "b]",
      "",
  }));
  ASSERT_TRUE(store.ok()) << store.error();
  ScopedActiveRegistry active(store.value().get());
  EXPECT_TRUE(opens("CAF\xc9"));
  EXPECT_TRUE(opens("caf\xe9"));
  EXPECT_TRUE(
      opens("A\xf7"
            "B"));
  EXPECT_FALSE(
      opens("a\xd7"
            "b"));
}

TEST(HostileRegistry, PipesAndForeignExportsAreRefusedUntouched) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  {
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    const Deadline deadline;
    auto pipe = RegistryStore::open(path);
    ASSERT_FALSE(pipe.ok());
    EXPECT_EQ(pipe.error(), path.string() +
                                ": not a regular file; the registry must be a plain REGEDIT4 "
                                "text file");
    std::filesystem::remove(path);
  }
  // A UTF-16 export of a later regedit, with its byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c :
       std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_CONFIG]\r\n"))
    utf16 += std::string{c, '\0'};
  writeFile(path, utf16);
  auto wide = RegistryStore::open(path);
  ASSERT_FALSE(wide.ok());
  EXPECT_NE(wide.error().find(path.string() +
                              ": line 1: the file is a \"Windows Registry Editor Version 5.00\" "
                              "export in UTF-16; the registry must be in the REGEDIT4 form"),
            std::string::npos)
      << wide.error();
  EXPECT_EQ(readFile(path), utf16);
  // The same header in 8-bit text, and UTF-16 text of another kind.
  writeFile(path, "Windows Registry Editor Version 5.00\r\n\r\n");
  auto narrow = RegistryStore::open(path);
  ASSERT_FALSE(narrow.ok());
  EXPECT_NE(narrow.error().find("is a \"Windows Registry Editor Version 5.00\" export;"),
            std::string::npos)
      << narrow.error();
  writeFile(path, std::string("\xFE\xFF\0R\0E", 6));
  auto other = RegistryStore::open(path);
  ASSERT_FALSE(other.ok());
  EXPECT_NE(other.error().find("is text in UTF-16"), std::string::npos) << other.error();
}

TEST(HostileRegistry, ASaveKeepsModeAndOwnerAndNeverWaitsOnAPipe) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  writeFile(path, kSmall);
  ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
  }
  auto store = RegistryStore::open(path);
  ASSERT_TRUE(store.ok()) << store.error();

  // A folder where the temporary goes: the save fails at once, naming the
  // temporary, and the file stays. A pipe there is a stale name like any other:
  // it goes, and the save neither waits on it nor writes into it.
  const auto temp = dir.path() / ".registry.reg.uinq76-tmp";
  ASSERT_TRUE(std::filesystem::create_directory(temp));
  store.value()->markDirty();
  {
    const Deadline deadline;
    const auto saved = store.value()->flush();
    ASSERT_FALSE(saved.ok());
    EXPECT_NE(saved.error().find(temp.string()), std::string::npos) << saved.error();
  }
  EXPECT_EQ(readFile(path), kSmall);
  std::filesystem::remove(temp);
  ASSERT_EQ(::mkfifo(temp.c_str(), 0644), 0);
  {
    const Deadline deadline;
    ASSERT_TRUE(store.value()->flush().ok());
  }
  EXPECT_FALSE(std::filesystem::exists(temp));

  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
}
