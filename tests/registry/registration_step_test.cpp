#include "registry/registration_step.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"
#include "tests/support/recorded_progress.h"

namespace {

constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool keyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

std::string uninstallEntry(const std::string& title) {
  std::string path = kUninstall;
  path += "\\";
  path += title;
  return path;
}

std::string section(const std::string& path) {
  std::string line = "[HKEY_LOCAL_MACHINE\\";
  line += path;
  line += "]";
  return line;
}

std::string machineWith(const std::string& title) {
  return crlf({
      "REGEDIT4",
      section(uninstallEntry(title) + "\\Sub"),
      "\"DisplayName\"=\"x\"",
      section(uninstallEntry("Pixel Shed Pro")),
      "\"DisplayName\"=\"Pixel Shed Pro\"",
      section("SOFTWARE\\Vesk\\KivraQ76\\Settings"),
      section("SOFTWARE\\Vesk\\VardenMixer"),
  });
}

const std::vector<std::string> kRegistrationRequests = {"step", "check 1004"};

}  // namespace

TEST(RegistrationStep, RemovesTheProductsTwoKeysOnly) {
  // A title of 79 characters, the longest the installation check accepts,
  // still names its whole key.
  for (const std::string& title : {std::string("Kivra Q76 Audio Drivers"), std::string(79, 'T')}) {
    ActiveStore store(machineWith(title));
    RecordedProgress progress;
    std::string at_first_request;
    progress.onRequest = [&] {
      if (at_first_request.empty()) at_first_request = store->toText();
    };

    RemoveProgramRegistration(progress, title.c_str(), "KivraQ76");

    EXPECT_EQ(progress.requests, kRegistrationRequests);
    EXPECT_EQ(at_first_request, store->toText()) << "the bar moved before both removals";
    EXPECT_FALSE(keyExists(uninstallEntry(title))) << title;
    EXPECT_FALSE(keyExists("SOFTWARE\\Vesk\\KivraQ76"));
    // The keys above stay, and so do the neighbours below them.
    EXPECT_TRUE(keyExists(uninstallEntry("Pixel Shed Pro")));
    EXPECT_TRUE(keyExists("SOFTWARE\\Vesk\\VardenMixer"));
    EXPECT_EQ(store->openHandleCount(), 0u);
  }
}

TEST(RegistrationStep, AnEmptyTitleLeavesEveryRegistration) {
  ActiveStore store(machineWith("Kivra Q76 Audio Drivers"));
  RecordedProgress progress;

  RemoveProgramRegistration(progress, "", "KivraQ76");

  EXPECT_EQ(progress.requests, kRegistrationRequests);
  EXPECT_TRUE(keyExists(uninstallEntry("Kivra Q76 Audio Drivers")));
  EXPECT_TRUE(keyExists(uninstallEntry("Pixel Shed Pro")));
  // The product key goes all the same.
  EXPECT_FALSE(keyExists("SOFTWARE\\Vesk\\KivraQ76"));
}

TEST(RegistrationStep, NamesTooLongForThePathRemoveNothing) {
  // A path cut at 259 characters would name another key: here the neighbours
  // whose names are the first parts of the title and of the key name.
  const std::string title(300, 'T');
  const std::string key_name(300, 'K');
  const std::string cut_entry = uninstallEntry(title).substr(0, 259);
  std::string cut_key = "SOFTWARE\\Vesk\\";
  cut_key += key_name;
  cut_key.resize(259);
  ActiveStore store(crlf({"REGEDIT4", section(cut_entry), section(cut_key)}));
  RecordedProgress progress;

  RemoveProgramRegistration(progress, title.c_str(), key_name.c_str());

  EXPECT_EQ(progress.requests, kRegistrationRequests);
  EXPECT_TRUE(keyExists(cut_entry));
  EXPECT_TRUE(keyExists(cut_key));
  EXPECT_FALSE(store->dirty());
}

TEST(RegistrationStep, ReportsItsProgressWhenNeitherKeyExists) {
  ActiveStore store(crlf({"REGEDIT4", section(uninstallEntry("Pixel Shed Pro"))}));
  const std::string before = store->toText();
  RecordedProgress progress;

  RemoveProgramRegistration(progress, "Kivra Q76 Audio Drivers", "KivraQ76");

  EXPECT_EQ(progress.requests, kRegistrationRequests);
  EXPECT_EQ(store->toText(), before);
  EXPECT_FALSE(store->dirty());
  EXPECT_EQ(store->openHandleCount(), 0u);
}
