// The installation check on stores of every shape the title can take; each
// way out of it leaves no key open.
#include "product/product.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

// A value line of the product key: `head`, then `body`, then `tail`.
std::string valueLine(const char* head, const std::string& body, const char* tail) {
  std::string line = head;
  line += body;
  line += tail;
  return line;
}

struct Row {
  const char* what;
  std::string title_line;  // the value "Title" of the product key, or none
  int installed;
  std::string title;
};

}  // namespace

TEST(IsProductInstalled, ReadsTheTitleAndClosesTheKeyOnEveryPath) {
  const std::string longest(79, 'T');
  const Row rows[] = {
      {"a title", "\"Title\"=\"Kivra Q76 Audio Drivers\"", 1, "Kivra Q76 Audio Drivers"},
      {"no Title value", "\"Other\"=\"x\"", 0, ""},
      {"79 characters and the zero", valueLine("\"Title\"=\"", longest, "\""), 1, longest},
      {"80 characters with no zero", valueLine("\"Title\"=hex(1):", hexOf(longest + "T"), ""), 0,
       ""},
      {"longer than the buffer", valueLine("\"Title\"=\"", std::string(100, 'T'), "\""), 0, ""},
      {"any type: bytes up to the zero", "\"Title\"=hex:4b,37,36,00,78", 1, "K76"},
  };
  for (const auto& row : rows) {
    ActiveStore store(crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
                            row.title_line, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\VardenMixer]",
                            "\"Title\"=\"Varden Mixer Manager\""}));
    std::memset(ProductTitle, 0, sizeof ProductTitle);

    EXPECT_EQ(IsProductInstalled(), row.installed) << row.what;
    EXPECT_EQ(std::string(ProductTitle), row.title) << row.what;
    EXPECT_STREQ(ProductKeyName, "KivraQ76");
    EXPECT_EQ(store->openHandleCount(), 0u) << row.what;
  }

  // No product key at all.
  ActiveStore store(crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\VardenMixer]"}));
  EXPECT_EQ(IsProductInstalled(), 0);
  EXPECT_EQ(store->openHandleCount(), 0u);
}
