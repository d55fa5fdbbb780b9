// The whole registry in memory: one key tree per root key, and which roots the
// file named and in what order, so that saving writes them back the same way.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/registry/registry_key.h"
#include "platform/win32/windows.h"

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

inline constexpr std::size_t kRootKeyCount = 5;

// "HKEY_LOCAL_MACHINE" and so on; the spelling regedit writes.
std::string_view rootKeyName(RootKey root);
// Matches a root's name without regard to case.
std::optional<RootKey> rootKeyFromName(std::string_view name);
// The predefined handle (HKEY_LOCAL_MACHINE, ...) of a root and back.
HKEY rootKeyHandle(RootKey root);
std::optional<RootKey> rootKeyFromHandle(HKEY handle);

class RegistryTree final {
 public:
  RegistryTree();

  RegistryKey& root(RootKey root) { return *m_roots[index(root)]; }
  const RegistryKey& root(RootKey root) const { return *m_roots[index(root)]; }
  std::shared_ptr<RegistryKey> rootPtr(RootKey root) const { return m_roots[index(root)]; }

  // Records that the file mentions `root` (in its own section or above a key),
  // keeping the first mention's place in the order.
  void noteMentioned(RootKey root);
  // Records that the root has a section of its own.
  void noteListed(RootKey root);
  bool listed(RootKey root) const { return m_listed[index(root)]; }
  const std::vector<RootKey>& mentionOrder() const { return m_order; }

 private:
  static std::size_t index(RootKey root) { return static_cast<std::size_t>(root); }

  std::array<std::shared_ptr<RegistryKey>, kRootKeyCount> m_roots;
  std::array<bool, kRootKeyCount> m_listed{};
  std::vector<RootKey> m_order;
};
