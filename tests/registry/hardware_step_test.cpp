#include "registry/hardware_step.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"
#include "tests/support/recorded_progress.h"

namespace {

bool keyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool valueExists(const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  const LONG result = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

const std::vector<std::string> kHardwareRequests = {"step", "step", "step", "check 1003"};

constexpr char kMediaClass[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\";
constexpr char kMidi[] = "System\\CurrentControlSet\\Control\\MediaResources\\midi\\";
constexpr char kInstalledFiles[] = "System\\CurrentControlSet\\control\\InstalledFiles";
constexpr char kKnown16Dlls[] = "System\\CurrentControlSet\\control\\SessionManager\\Known16DLLs";

std::string hklm(const std::string& path) {
  std::string section = "[HKEY_LOCAL_MACHINE\\";
  section += path;
  section += "]";
  return section;
}

}  // namespace

TEST(HardwareStep, RemovesTheCardsEntriesAndLeavesItsNeighbours) {
  ActiveStore store(crlf({
      "REGEDIT4",
      // Two media-class entries for the joystick driver: only the first goes.
      hklm(std::string(kMediaClass) + "0000"),
      "\"Driver\"=\"vjoyd.vxd\"",
      hklm(std::string(kMediaClass) + "0001"),
      "\"Driver\"=\"vjoyd.vxd\"",
      // Device nodes of children 0 to 3 go; a fifth child and a neighbour stay.
      hklm("Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000\\LogConfig"),
      hklm("Enum\\MF\\CHILD0003\\ROOT&OPT0930MEDIA&0000"),
      hklm("Enum\\MF\\CHILD0004\\ROOT&OPT0930MEDIA&0000"),
      hklm("Enum\\MF\\CHILD0000\\ROOT&VRD1868&0000"),
      // Hardware profile 0001 only; another profile is reached by no path.
      hklm("Config\\0001\\Enum\\MF\\CHILD2\\ROOT&OPT0930MEDIA&0000"),
      hklm("Config\\0002\\Enum\\MF\\CHILD2\\ROOT&OPT0930MEDIA&0000"),
      hklm("Enum\\ROOT\\OPT0930MEDIA\\0000"),
      hklm("Enum\\ROOT\\VRD1868\\0000"),
      hklm("System\\CurrentControlSet\\Services\\Class\\OPT0930MEDIA\\0000"),
      hklm(kInstalledFiles),
      "\"snd930p.drv\"=\"\"",
      "\"uinq76d.exe\"=\"\"",
      "\"vdmixmgr.dll\"=\"\"",
      hklm(kKnown16Dlls),
      "\"sndopl3p.drv\"=\"\"",
      "\"uinq76.exe\"=\"\"",  // not one of the six driver names: stays
      // Both of the card's MIDI entries go, one per row; another card's stays.
      hklm(std::string(kMidi) + "a"),
      "\"Driver\"=\"sndm401p.drv\"",
      hklm(std::string(kMidi) + "b"),
      "\"Driver\"=\"sndopl3p.drv\"",
      hklm(std::string(kMidi) + "c"),
      "\"Driver\"=\"vdmidi.drv\"",
      "[HKEY_CURRENT_CONFIG\\Enum\\MF\\CHILD0001\\ROOT&OPT0930MEDIA&0000]",
      "[HKEY_CURRENT_CONFIG\\Enum\\MF\\CHILD0004\\ROOT&OPT0930MEDIA&0000]",
  }));
  RecordedProgress progress;
  std::string at_first_request;
  progress.onRequest = [&] {
    if (at_first_request.empty()) at_first_request = store->toText();
  };

  RemoveHardwareNodes(progress);

  EXPECT_EQ(progress.requests, kHardwareRequests);
  // The bar moves only once every removal is done.
  EXPECT_EQ(at_first_request, store->toText());
  EXPECT_EQ(store->openHandleCount(), 0u);

  for (const char* gone :
       {"Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000",
        "Enum\\MF\\CHILD0003\\ROOT&OPT0930MEDIA&0000",
        "Config\\0001\\Enum\\MF\\CHILD2\\ROOT&OPT0930MEDIA&0000", "Enum\\ROOT\\OPT0930MEDIA",
        "System\\CurrentControlSet\\Services\\Class\\OPT0930MEDIA"}) {
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, gone)) << gone;
  }
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, std::string(kMediaClass) + "0000"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, std::string(kMidi) + "a"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, std::string(kMidi) + "b"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0001\\ROOT&OPT0930MEDIA&0000"));

  for (const char* kept :
       {"Enum\\MF\\CHILD0000", "Enum\\MF\\CHILD0004\\ROOT&OPT0930MEDIA&0000",
        "Enum\\MF\\CHILD0000\\ROOT&VRD1868&0000",
        "Config\\0002\\Enum\\MF\\CHILD2\\ROOT&OPT0930MEDIA&0000", "Enum\\ROOT\\VRD1868\\0000"}) {
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kept)) << kept;
  }
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, std::string(kMediaClass) + "0001"));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, std::string(kMidi) + "c"));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0004\\ROOT&OPT0930MEDIA&0000"));

  EXPECT_FALSE(valueExists(kInstalledFiles, "snd930p.drv"));
  EXPECT_FALSE(valueExists(kInstalledFiles, "uinq76d.exe"));
  EXPECT_TRUE(valueExists(kInstalledFiles, "vdmixmgr.dll"));
  EXPECT_FALSE(valueExists(kKnown16Dlls, "sndopl3p.drv"));
  EXPECT_TRUE(valueExists(kKnown16Dlls, "uinq76.exe"));
}

TEST(HardwareStep, ReportsItsProgressOnAStoreWithoutTheCard) {
  ActiveStore store(crlf({"REGEDIT4", hklm("Enum\\ROOT\\VRD1868\\0000"), "\"Class\"=\"MEDIA\""}));
  const std::string before = store->toText();
  RecordedProgress progress;

  RemoveHardwareNodes(progress);

  EXPECT_EQ(progress.requests, kHardwareRequests);
  EXPECT_EQ(store->toText(), before);
  EXPECT_FALSE(store->dirty());
  EXPECT_EQ(store->openHandleCount(), 0u);
}
