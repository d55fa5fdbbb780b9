#include "registry/driver_entries.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

constexpr char kClass[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\MEDIA";
constexpr char kMidi[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\MediaResources\\midi";

std::string section(const std::string& path) { return "[" + path + "]"; }

bool exists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

constexpr char kClassPath[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\";
constexpr char kMidiPath[] = "System\\CurrentControlSet\\Control\\MediaResources\\midi\\";

}  // namespace

TEST(DriverEntries, RemovesTheFirstMatchingEntryOnly) {
  ActiveStore store(crlf({
      "REGEDIT4",
      section(std::string(kClass) + "\\0000"),
      "\"Driver\"=\"other.drv\"",
      "\"Keep\"=\"1\"",
      section(std::string(kClass) + "\\0001"),
      "\"Nothing\"=\"here\"",  // no Driver value
      section(std::string(kClass) + "\\0002"),
      "\"Driver\"=\"VJOYD.VXD\"",  // other case
      section(std::string(kClass) + "\\0003"),
      "\"Driver\"=\"vjoyd.vxd\"",
      section(std::string(kClass) + "\\0003\\Config\\Deep"),
      section(std::string(kClass) + "\\0004"),
      "\"Driver\"=hex:76,6a,6f,79,64,2e,76,78,64,00",
  }));
  // The first match goes with its subkeys; the others stay with their values.
  EXPECT_EQ(DeleteClassEntriesByDriver("vjoyd.vxd"), 1);
  EXPECT_FALSE(exists(std::string(kClassPath) + "0003"));
  for (const char* kept : {"0000", "0001", "0002", "0004"}) {
    EXPECT_TRUE(exists(std::string(kClassPath) + kept)) << kept;
  }
  EXPECT_NE(store->toText().find("\"Keep\"=\"1\""), std::string::npos);
  // A second call finds the next one (the value's type is not looked at).
  EXPECT_EQ(DeleteClassEntriesByDriver("vjoyd.vxd"), 1);
  EXPECT_FALSE(exists(std::string(kClassPath) + "0004"));
  // No match left: 1, nothing changes.
  const std::string before = store->toText();
  EXPECT_EQ(DeleteClassEntriesByDriver("vjoyd.vxd"), 1);
  EXPECT_EQ(store->toText(), before);
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(DriverEntries, MediaResourcesByDeviceType) {
  ActiveStore store(crlf({
      "REGEDIT4",
      section(std::string(kMidi) + "\\a"),
      "\"Driver\"=\"sndm401p.drv\"",
      section(std::string(kMidi) + "\\b"),
      "\"Driver\"=\"sndopl3p.drv\"",
      section(std::string(kMidi) + "\\c"),
      "\"Driver\"=\"other.drv\"",
      section("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\MediaResources\\aux"),
  }));
  const std::string before = store->toText();
  // A missing device-type key and an empty one.
  EXPECT_EQ(DeleteMediaResourcesByDriver("wave", "snd930p.drv"), 0);
  EXPECT_EQ(DeleteMediaResourcesByDriver("aux", "snd930p.drv"), 1);
  // A nameless one leaves "MediaResources\\", which Windows opens as
  // MediaResources itself: its subkeys have no "Driver", so nothing goes.
  EXPECT_EQ(DeleteMediaResourcesByDriver("", "snd930p.drv"), 1);
  // A device type too long for the 260-byte path buffer.
  EXPECT_EQ(DeleteMediaResourcesByDriver(std::string(300, 'w').c_str(), "snd930p.drv"), 0);
  EXPECT_EQ(store->toText(), before);
  // One midi entry per driver: both go, one call each.
  EXPECT_EQ(DeleteMediaResourcesByDriver("midi", "sndm401p.drv"), 1);
  EXPECT_EQ(DeleteMediaResourcesByDriver("midi", "sndopl3p.drv"), 1);
  EXPECT_FALSE(exists(std::string(kMidiPath) + "a"));
  EXPECT_FALSE(exists(std::string(kMidiPath) + "b"));
  EXPECT_TRUE(exists(std::string(kMidiPath) + "c"));
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(DriverEntries, DriverValuesThatDoNotFitOrLackTheirZero) {
  const std::string name = "snd930p.drv";
  ActiveStore store(crlf({
      "REGEDIT4",
      // 260 bytes without a zero that start with the name: compared whole, no match.
      section(std::string(kMidi) + "\\full"),
      "\"Driver\"=hex(1):" + hexOf(name + std::string(249, 'x')),
      // Longer than the 260-byte buffer: cannot be read, passed over.
      section(std::string(kMidi) + "\\long"),
      "\"Driver\"=\"" + name + std::string(300, ' ') + "\"",
      // The name stored without its zero: it is the whole text, so it matches.
      section(std::string(kMidi) + "\\bare"),
      "\"Driver\"=hex(1):" + hexOf(name),
  }));
  EXPECT_EQ(DeleteMediaResourcesByDriver("midi", name.c_str()), 1);
  EXPECT_TRUE(exists(std::string(kMidiPath) + "full"));
  EXPECT_TRUE(exists(std::string(kMidiPath) + "long"));
  EXPECT_FALSE(exists(std::string(kMidiPath) + "bare"));
  // The entry whose value could not be read was closed all the same.
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(DriverEntries, UnreadableSubkeyNameEndsTheWalk) {
  ActiveStore store(crlf({
      "REGEDIT4",
      section(std::string(kClass) + "\\" + std::string(260, 'n')),
      "\"Driver\"=\"x.drv\"",
      section(std::string(kClass) + "\\0001"),
      "\"Driver\"=\"vjoyd.vxd\"",
  }));
  // The name that does not fit 260 bytes ends the walk before the match.
  EXPECT_EQ(DeleteClassEntriesByDriver("vjoyd.vxd"), 0);
  EXPECT_TRUE(exists(std::string(kClassPath) + "0001"));
  EXPECT_FALSE(store->dirty());
  EXPECT_EQ(store->openHandleCount(), 0u);
}
