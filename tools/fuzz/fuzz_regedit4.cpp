// libFuzzer target: any bytes as a registry file. The store must refuse or
// accept them without a fault, and what it writes must read back to itself.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry/registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto store = RegistryStore::fromText(text, "fuzz");
  if (!store) return 0;
  const std::string written = store.value()->toText();
  auto again = RegistryStore::fromText(written, "written");
  if (!again) std::abort();
  if (again.value()->toText() != written) std::abort();
  return 0;
}
