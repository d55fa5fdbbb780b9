// SYSTEM.DAT as the machine's registry: both roots through the Reg*A
// functions, HKEY_CURRENT_CONFIG as every profile at once, and what the
// program removes written back by deletion.
#include "platform/creg/system_registry.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_api.h"
#include "tests/platform/creg/creg_samples.h"
#include "tests/support/active_registry.h"

namespace {

using creg::SystemRegistry;
using creg_gen::Style;
const KeyId kHklm = RegistryTree::rootKey(RootKey::LocalMachine);
const KeyId kHkcc = RegistryTree::rootKey(RootKey::CurrentConfig);

// The registry as the program gets it: a store loaded from its text.
std::unique_ptr<RegistryStore> storeOf(const SystemRegistry& registry) {
  auto store = RegistryStore::fromText(writeRegedit4(registry.tree()), "SYSTEM.DAT");
  EXPECT_TRUE(store) << store.error();
  return std::move(store).value();
}

bool hasKey(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TEST(SystemRegistry, EveryProfileIsTheCurrentConfigurationAndLosesWhatItLoses) {
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    auto read = SystemRegistry::read(creg_samples::sampleFile(style, style == Style::Packed),
                                     "C:\\WINDOWS\\SYSTEM.DAT");
    ASSERT_TRUE(read) << read.error();
    const SystemRegistry& registry = read.value();
    EXPECT_EQ(registry.profiles(), (std::vector<std::string>{"0001", "0002", "0003"}));
    auto store = storeOf(registry);
    // The text the store was loaded from holds both roots exactly.
    EXPECT_TRUE(creg::compareTrees(store->tree(), kHklm, registry.tree(), kHklm, "HKLM"));
    EXPECT_TRUE(creg::compareTrees(store->tree(), kHkcc, registry.tree(), kHkcc, "HKCC"));

    test_support::ScopedActiveRegistry active(store.get());
    ASSERT_TRUE(hasKey(HKEY_CURRENT_CONFIG, "Enum\\ROOT\\OPT0930MEDIA\\0000"));
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_CONFIG, "Enum\\ROOT\\OPT0930MEDIA\\0000"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_CONFIG, "Enum\\ROOT\\OPT0930MEDIA"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\OPT0930MEDIA\\0000\\LogConfig"),
              ERROR_SUCCESS);
    HKEY files = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\InstalledFiles", 0,
                      KEY_ALL_ACCESS, &files),
        ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(files, "snd930p.drv"), ERROR_SUCCESS);
    RegCloseKey(files);

    RegistryTree asRead;
    auto written = registry.write(store->tree(), &asRead);
    ASSERT_TRUE(written) << written.error();
    ASSERT_EQ(written.value().size(), registry.bytes().size());
    auto after = SystemRegistry::read(written.value(), "SYSTEM.DAT");
    ASSERT_TRUE(after) << after.error();
    const RegistryTree& tree = after.value().tree();
    // The writer's account of the new file is what a reading of it gives.
    EXPECT_TRUE(creg::compareTrees(asRead, kHklm, tree, kHklm, "HKLM"));
    EXPECT_TRUE(creg::compareTrees(asRead, kHkcc, tree, kHkcc, "HKCC"));
    EXPECT_EQ(writeRegedit4(asRead), writeRegedit4(tree));
    const KeyId config = tree.findSubkey(kHklm, "Config");
    for (const char* profile : {"0001", "0002", "0003"}) {
      const KeyId root = tree.findSubkey(tree.findSubkey(config, profile), "Enum");
      const KeyId enumRoot = tree.findSubkey(root, "ROOT");
      EXPECT_EQ(tree.findSubkey(enumRoot, "OPT0930MEDIA"), kNoKey) << profile;
      EXPECT_NE(tree.findSubkey(enumRoot, "*PNP0C01"), kNoKey) << profile;
    }
    // HKLM lost what the program removed there, no more.
    auto expected = creg_samples::sampleStore();
    RegistryTree& want = expected->tree();
    for (const char* profile : {"0001", "0002", "0003"}) {
      const KeyId enumRoot = want.findSubkey(
          want.findSubkey(want.findSubkey(want.findSubkey(kHklm, "Config"), profile), "Enum"),
          "ROOT");
      const KeyId product = want.findSubkey(enumRoot, "OPT0930MEDIA");
      want.removeSubkey(want.findSubkey(product, "0000"));
      want.removeSubkey(product);
    }
    const KeyId device = want.findSubkey(
        want.findSubkey(want.findSubkey(want.findSubkey(kHklm, "Enum"), "ROOT"), "OPT0930MEDIA"),
        "0000");
    want.removeSubkey(want.findSubkey(device, "LogConfig"));
    KeyId installed = kHklm;
    for (const char* name : {"System", "CurrentControlSet", "control", "InstalledFiles"})
      installed = want.findSubkey(installed, name);
    ASSERT_TRUE(want.removeValue(installed, "snd930p.drv"));
    EXPECT_TRUE(creg::compareTrees(tree, kHklm, want, kHklm, "HKLM"));
  }
}

// A profile's own keys are in the current configuration too, and a removal
// there reaches only the profiles that have the key.
TEST(SystemRegistry, ProfilesAreLaidOverEachOther) {
  auto store = RegistryStore::fromText(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Config\\0001\\Display]\r\n\"Mode\"=\"VGA\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Config\\0002\\Display]\r\n\"Mode\"=\"SVGA\"\r\n\"Depth\"=\"16\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Config\\0002\\Enum\\Q76]\r\n\"Flags\"=\"1\"\r\n\r\n");
  ASSERT_TRUE(store);
  auto file = creg_gen::generate(store.value()->tree(), kHklm, {});
  ASSERT_TRUE(file);
  auto read = SystemRegistry::read(file.value(), "SYSTEM.DAT");
  ASSERT_TRUE(read) << read.error();
  const RegistryTree& view = read.value().tree();
  const KeyId display = view.findSubkey(kHkcc, "Display");
  ASSERT_NE(display, kNoKey);
  EXPECT_EQ(view.findValue(display, "Mode")->data, std::string_view("VGA\0", 4));
  EXPECT_EQ(view.findValue(display, "Depth")->data, std::string_view("16\0", 3));
  RegistryTree changed = view;
  const KeyId enumKey = changed.findSubkey(kHkcc, "Enum");
  changed.removeSubkey(changed.findSubkey(enumKey, "Q76"));
  changed.removeValue(changed.findSubkey(kHkcc, "Display"), "depth");
  auto written = read.value().write(changed);
  ASSERT_TRUE(written) << written.error();
  auto after = SystemRegistry::read(written.value(), "SYSTEM.DAT");
  ASSERT_TRUE(after);
  const RegistryTree& tree = after.value().tree();
  const KeyId second = tree.findSubkey(tree.findSubkey(kHklm, "Config"), "0002");
  EXPECT_EQ(tree.findSubkey(tree.findSubkey(second, "Enum"), "Q76"), kNoKey);
  EXPECT_FALSE(tree.findValue(tree.findSubkey(second, "Display"), "Depth"));
  EXPECT_TRUE(tree.findValue(tree.findSubkey(second, "Display"), "Mode"));
}

// Anything but removals is refused, naming the file and the key.
TEST(SystemRegistry, AddedOrChangedContentIsRefused) {
  auto read = SystemRegistry::read(creg_samples::sampleFile(Style::Packed, true), "SYSTEM.DAT");
  ASSERT_TRUE(read);
  RegistryTree changed = read.value().tree();
  changed.findOrAddSubkey(kHkcc, "New");
  auto written = read.value().write(changed);
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().find("SYSTEM.DAT: only removals"), std::string::npos);
  EXPECT_NE(written.error().find("HKEY_CURRENT_CONFIG\\New"), std::string::npos) << written.error();

  changed = read.value().tree();
  const KeyId software = changed.findSubkey(kHklm, "Software");
  changed.setValue(changed.findSubkey(software, "Kivra"), "Added", REG_SZ, "x");
  written = read.value().write(changed);
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().find("\"Added\" is new or changed"), std::string::npos);

  // A key or value that comes where another went, one renamed in another
  // letter case, or data changed, each named exactly.
  const std::string prefix = "SYSTEM.DAT: only removals can be written into this file, but ";
  const std::string audio = "HKEY_LOCAL_MACHINE\\Software\\Kivra\\Q76 Audio";
  const struct {
    std::function<void(RegistryTree&, KeyId audio)> change;
    std::string message;
  } cases[] = {
      {[](RegistryTree& t, KeyId a) {
         t.removeSubkey(t.findSubkey(a, "Part 4"));
         t.findOrAddSubkey(a, "Part 99");
       },
       audio + "\\Part 99: the key is new or renamed"},
      {[](RegistryTree& t, KeyId a) {
         t.removeValue(a, "Blob");
         t.setValue(a, "Other", REG_BINARY, "x");
       },
       audio + ": the value \"Other\" is new or changed"},
      {[](RegistryTree& t, KeyId a) { t.setValue(a, "Version", REG_SZ, std::string_view("5", 2)); },
       audio + ": the value \"Version\" is new or changed"},
      {[](RegistryTree& t, KeyId) {
         const KeyId soft = t.findSubkey(t.findSubkey(kHklm, "Software"), "Caf\xe9 Soft");
         const KeyId old = t.findSubkey(soft, "R\xe9glages");
         t.removeSubkey(old);
         t.findOrAddSubkey(soft, "R\xc9GLAGES");
       },
       "HKEY_LOCAL_MACHINE\\Software\\Caf\xe9 Soft\\R\xc9GLAGES: the key is new or renamed"},
      {[](RegistryTree& t, KeyId) {
         const KeyId display = t.findSubkey(kHkcc, "Display");
         t.removeSubkey(t.findSubkey(display, "Settings"));
         t.findOrAddSubkey(display, "Other");
       },
       "HKEY_CURRENT_CONFIG\\Display\\Other: the key is new or renamed"},
  };
  for (const auto& c : cases) {
    changed = read.value().tree();
    KeyId key = kHklm;
    for (const char* name : {"Software", "Kivra", "Q76 Audio"}) key = changed.findSubkey(key, name);
    c.change(changed, key);
    written = read.value().write(changed);
    ASSERT_FALSE(written) << c.message;
    EXPECT_EQ(written.error(), prefix + c.message);
  }
}

}  // namespace
