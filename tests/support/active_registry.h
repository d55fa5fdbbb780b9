// Makes a store the active registry of the Reg*A functions for as long as the
// object lives, and no store afterwards, so that no test leaves the functions
// pointing at a store it has destroyed, also when an ASSERT_* returns early.
#pragma once

#include "platform/registry/registry_store.h"

namespace test_support {

class ScopedActiveRegistry final {
 public:
  explicit ScopedActiveRegistry(RegistryStore* store) { SetActiveRegistry(store); }
  ~ScopedActiveRegistry() { SetActiveRegistry(nullptr); }
  ScopedActiveRegistry(const ScopedActiveRegistry&) = delete;
  ScopedActiveRegistry& operator=(const ScopedActiveRegistry&) = delete;
};

}  // namespace test_support
