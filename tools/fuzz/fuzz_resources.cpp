// libFuzzer target: any bytes as a resource script, and as a profile file
// read through the profile parser.
#include <cstdint>
#include <string_view>

#include "platform/resources/rc_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto files = [text](std::string_view name) -> std::optional<std::string> {
    if (name == "self.h") return std::string(text.substr(0, text.size() / 2));
    return std::nullopt;
  };
  (void)resources::parseResourceScript("fuzz.rc", text, files);
  return 0;
}
