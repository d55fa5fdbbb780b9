// libFuzzer target: any bytes as a registry file. The store must refuse or
// accept them without a fault, and what it writes must read back to itself.
// Read in blocks of a size taken from the input, the bytes must give what
// they give read whole, tree or error.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_store.h"

namespace {

std::string outcome(const Result<RegistryTree>& tree) {
  return tree ? "tree:" + writeRegedit4(tree.value()) : "error:" + tree.error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t block = size == 0 ? 1 : 1 + data[0] % 97;
  std::size_t at = 0;
  const ReadBlock read = [&](char* into, std::size_t room) -> Result<std::size_t> {
    const std::size_t n = std::min({room, block, text.size() - at});
    std::memcpy(into, text.data() + at, n);
    at += n;
    return n;
  };
  const std::string whole = outcome(parseRegedit4(text, "fuzz"));
  if (outcome(parseRegedit4(read, size, "fuzz")) != whole) std::abort();

  auto store = RegistryStore::fromText(text, "fuzz");
  if (!store) return 0;
  const std::string written = store.value()->toText();
  auto again = RegistryStore::fromText(written, "written");
  if (!again) std::abort();
  if (again.value()->toText() != written) std::abort();
  return 0;
}
