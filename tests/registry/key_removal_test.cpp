#include "registry/key_removal.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

bool exists(HKEY root, LPCSTR path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

const std::string kTree = crlf({
    "REGEDIT4",
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000]",
    "\"HardwareID\"=\"x\"",
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000\\A\\A1\\A11]",
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000\\A\\A2]",
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000\\B\\B1]",
    "\"v\"=dword:00000001",
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000\\C]",
    "[HKEY_LOCAL_MACHINE\\Enum\\Leaf]",
    "\"v\"=\"1\"",
    "[HKEY_LOCAL_MACHINE\\Stuck\\Good1\\Deeper]",
    "[HKEY_LOCAL_MACHINE\\Stuck\\Inner\\" + std::string(260, 'L') + "\\Below]",
    "[HKEY_LOCAL_MACHINE\\Stuck\\Inner\\Fine]",
    "[HKEY_LOCAL_MACHINE\\Stuck\\Good2]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kivra Q76\\Sub]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other]",
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\InstalledFiles]",
    "\"snd930p.drv\"=\"a\"",
    "\"other.drv\"=\"b\"",
    "\"snd930p.vxd\"=\"c\"",
    "[HKEY_CURRENT_CONFIG\\Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000\\X]",
});

}  // namespace

TEST(DeleteKeyTree, RemovesWholeTreesOnly) {
  ActiveStore store(kTree);
  const std::string before = store->toText();
  // A path that does not exist: 0, nothing changes.
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE, "Enum\\Nope"), 0);
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_CONFIG, "Enum\\Leaf"), 0);
  EXPECT_FALSE(store->dirty());
  EXPECT_EQ(store->toText(), before);
  // A key without subkeys goes, with its values.
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE, "enum\\LEAF"), 1);
  EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Enum\\Leaf"));
  EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "Enum"));
  // A tree several levels deep, by a multi-name path: the keys above it stay.
  EXPECT_EQ(
      DeleteKeyTree(HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000"),
      1);
  EXPECT_FALSE(
      exists(HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000"));
  EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD0"));
  EXPECT_EQ(store->toText().find("CHILD0\\ROOT&OPT0930MEDIA"), std::string::npos);
  // The same path under HKEY_CURRENT_CONFIG is another tree.
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000"), 1);
  EXPECT_TRUE(exists(HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0000"));
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(DeleteKeyTree, NameTooLongForTheBufferStopsOnlyItsParent) {
  ActiveStore store(kTree);
  // Stuck\Inner has a subkey whose name does not fit 260 bytes: Inner and all
  // below it stay, its siblings go, and Stuck stays because Inner does.
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE, "Stuck"), 0);
  EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "Stuck\\Inner\\Fine"));
  EXPECT_TRUE(
      exists(HKEY_LOCAL_MACHINE, ("Stuck\\Inner\\" + std::string(260, 'L') + "\\Below").c_str()));
  EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Stuck\\Good1"));
  EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Stuck\\Good2"));
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(DeleteKeyTree, EmptyTitleDoesNotRemoveEveryRegistration) {
  ActiveStore store(kTree);
  // The path that an empty product title gives removes nothing, although the
  // registry itself would open it as the Uninstall key.
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"),
            0);
  EXPECT_TRUE(
      exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
  EXPECT_FALSE(store->dirty());
  // A real title removes just its own registration.
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kivra Q76"),
            1);
  EXPECT_TRUE(
      exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
  // An empty path removes nothing: not the parent, nor anything below it.
  const std::string before = store->toText();
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE, ""), 0);
  EXPECT_EQ(DeleteKeyTree(HKEY_LOCAL_MACHINE, nullptr), 0);
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), 0);
  EXPECT_EQ(DeleteKeyTree(software, ""), 0);
  RegCloseKey(software);
  EXPECT_EQ(store->toText(), before);
}

TEST(DeleteRegValue, RemovesOnlyTheNamedValue) {
  ActiveStore store(kTree);
  const std::string before = store->toText();
  const char* files = "System\\CurrentControlSet\\Control\\InstalledFiles";
  // A key that lacks the value, and a missing key: 0, nothing changes.
  EXPECT_EQ(DeleteRegValue(HKEY_LOCAL_MACHINE, files, "uinq76.exe"), 0);
  EXPECT_EQ(DeleteRegValue(HKEY_LOCAL_MACHINE, "System\\Nope", "snd930p.drv"), 0);
  EXPECT_EQ(store->toText(), before);
  EXPECT_FALSE(store->dirty());
  // Only the named value goes ("control" and "Control" are one key).
  EXPECT_EQ(DeleteRegValue(HKEY_LOCAL_MACHINE, files, "snd930p.drv"), 1);
  const std::string after = store->toText();
  EXPECT_NE(
      after.find("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\InstalledFiles]\r\n"
                 "\"other.drv\"=\"b\"\r\n\"snd930p.vxd\"=\"c\"\r\n"),
      std::string::npos);
  EXPECT_EQ(store->openHandleCount(), 0u);
}
