#include "platform/registry/registry_key.h"

#include <algorithm>

#include "platform/registry/name_fold.h"

std::shared_ptr<RegistryKey> RegistryKey::subkeyAt(std::size_t index) {
  if (m_removedSlots != 0) compact();
  if (index >= m_subkeys.size()) return nullptr;
  return m_subkeys[index];
}

std::shared_ptr<RegistryKey> RegistryKey::findSubkey(std::string_view name) const {
  const auto it = m_index.find(foldName(name));
  return it == m_index.end() ? nullptr : it->second;
}

std::shared_ptr<RegistryKey> RegistryKey::findOrAddSubkey(std::string_view name) {
  auto [it, inserted] = m_index.try_emplace(foldName(name));
  if (inserted) {
    it->second = std::make_shared<RegistryKey>(std::string(name));
    it->second->m_slot = m_subkeys.size();
    m_subkeys.push_back(it->second);
  }
  return it->second;
}

std::shared_ptr<RegistryKey> RegistryKey::insertSubkeyAt(std::size_t index, std::string_view name) {
  auto [it, inserted] = m_index.try_emplace(foldName(name));
  if (!inserted) return nullptr;
  if (m_removedSlots != 0) compact();
  it->second = std::make_shared<RegistryKey>(std::string(name));
  const std::size_t slot = std::min(index, m_subkeys.size());
  m_subkeys.insert(m_subkeys.begin() + static_cast<std::ptrdiff_t>(slot), it->second);
  for (std::size_t i = slot; i < m_subkeys.size(); ++i) m_subkeys[i]->m_slot = i;
  return it->second;
}

void RegistryKey::removeSubkey(RegistryKey& child) {
  if (child.m_slot >= m_subkeys.size() || m_subkeys[child.m_slot].get() != &child) return;
  m_index.erase(foldName(child.m_name));
  child.m_deleted = true;
  m_subkeys[child.m_slot].reset();
  ++m_removedSlots;
}

void RegistryKey::compact() {
  std::size_t out = 0;
  for (auto& child : m_subkeys) {
    if (!child) continue;
    child->m_slot = out;
    m_subkeys[out++] = std::move(child);
  }
  m_subkeys.resize(out);
  m_removedSlots = 0;
}

const RegistryValue* RegistryKey::findValue(std::string_view name) const {
  const auto it = std::find_if(m_values.begin(), m_values.end(),
                               [&](const RegistryValue& v) { return namesEqual(v.name, name); });
  return it == m_values.end() ? nullptr : &*it;
}

void RegistryKey::setValue(std::string_view name, DWORD type, std::string data) {
  for (auto& v : m_values) {
    if (namesEqual(v.name, name)) {
      v.type = type;
      v.data = std::move(data);
      return;
    }
  }
  m_values.push_back(RegistryValue{std::string(name), type, std::move(data)});
}

bool RegistryKey::insertValueAt(std::size_t index, RegistryValue value) {
  if (findValue(value.name) != nullptr) return false;
  const std::size_t at = std::min(index, m_values.size());
  m_values.insert(m_values.begin() + static_cast<std::ptrdiff_t>(at), std::move(value));
  return true;
}

bool RegistryKey::removeValue(std::string_view name) {
  const auto it = std::find_if(m_values.begin(), m_values.end(),
                               [&](const RegistryValue& v) { return namesEqual(v.name, name); });
  if (it == m_values.end()) return false;
  m_values.erase(it);
  return true;
}
