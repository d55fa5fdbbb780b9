#include "platform/registry/registry_tree.h"

#include <algorithm>

#include "platform/registry/name_fold.h"

namespace {

struct RootInfo {
  RootKey root;
  std::string_view name;
};

constexpr std::array<RootInfo, kRootKeyCount> kRoots{{
    {RootKey::ClassesRoot, "HKEY_CLASSES_ROOT"},
    {RootKey::CurrentUser, "HKEY_CURRENT_USER"},
    {RootKey::LocalMachine, "HKEY_LOCAL_MACHINE"},
    {RootKey::Users, "HKEY_USERS"},
    {RootKey::CurrentConfig, "HKEY_CURRENT_CONFIG"},
}};

}  // namespace

std::string_view rootKeyName(RootKey root) { return kRoots[static_cast<std::size_t>(root)].name; }

std::optional<RootKey> rootKeyFromName(std::string_view name) {
  for (const auto& info : kRoots) {
    if (namesEqual(info.name, name)) return info.root;
  }
  return std::nullopt;
}

HKEY rootKeyHandle(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RootKey::CurrentUser:
      return HKEY_CURRENT_USER;
    case RootKey::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RootKey::Users:
      return HKEY_USERS;
    case RootKey::CurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

std::optional<RootKey> rootKeyFromHandle(HKEY handle) {
  for (const auto& info : kRoots) {
    if (rootKeyHandle(info.root) == handle) return info.root;
  }
  return std::nullopt;
}

RegistryTree::RegistryTree() {
  for (const auto& info : kRoots) {
    m_roots[index(info.root)] = std::make_shared<RegistryKey>(std::string(info.name));
  }
}

void RegistryTree::noteMentioned(RootKey root) {
  if (std::find(m_order.begin(), m_order.end(), root) == m_order.end()) m_order.push_back(root);
}

void RegistryTree::noteListed(RootKey root) {
  noteMentioned(root);
  m_listed[index(root)] = true;
}
