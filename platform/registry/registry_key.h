// One key of the registry tree: its name as first spelled, its values in
// order, and its subkeys in the order in which they were added.
//
// Subkeys are found by name through a case-blind index, so opening or deleting
// a key costs one hash lookup per path component. A removed subkey leaves an
// empty slot that is squeezed out the next time the subkeys are counted or
// read by position; that keeps removing every subkey of a key linear.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win32/windows.h"

struct RegistryValue {
  std::string name;  // As spelled in the file; empty for the default value.
  DWORD type = REG_NONE;
  std::string data;  // The stored bytes; a REG_SZ holds its terminating zero.
};

class RegistryKey final {
 public:
  explicit RegistryKey(std::string name) : m_name(std::move(name)) {}
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  const std::string& name() const { return m_name; }
  // True once the key has been removed from its parent; open handles to it
  // then fail instead of reaching a key that is no longer in the registry.
  bool deleted() const { return m_deleted; }

  std::size_t subkeyCount() const { return m_subkeys.size() - m_removedSlots; }
  bool hasSubkeys() const { return subkeyCount() != 0; }
  // The subkey at `index` in order, or nullptr past the end.
  std::shared_ptr<RegistryKey> subkeyAt(std::size_t index);
  std::shared_ptr<RegistryKey> findSubkey(std::string_view name) const;
  // Returns the subkey with that name, appending it at the end when it is new.
  std::shared_ptr<RegistryKey> findOrAddSubkey(std::string_view name);
  // Adds a new subkey at `index` among the subkeys (at the end when `index`
  // is past it); nullptr when a subkey of that name exists already.
  std::shared_ptr<RegistryKey> insertSubkeyAt(std::size_t index, std::string_view name);
  // Removes a subkey that has no subkeys of its own and marks it deleted.
  void removeSubkey(RegistryKey& child);

  // Calls `visit(const RegistryKey&)` for each subkey in order.
  template <typename Visit>
  void forEachSubkey(Visit&& visit) const {
    for (const auto& child : m_subkeys) {
      if (child) visit(static_cast<const RegistryKey&>(*child));
    }
  }

  const std::vector<RegistryValue>& values() const { return m_values; }
  const RegistryValue* findValue(std::string_view name) const;
  // Sets a value; one that exists under that name (in any letter case) keeps
  // its place and spelling and takes the new type and data.
  void setValue(std::string_view name, DWORD type, std::string data);
  bool removeValue(std::string_view name);
  // Adds a value at `index` among the values (at the end when past it); false
  // when a value of that name exists already.
  bool insertValueAt(std::size_t index, RegistryValue value);

 private:
  void compact();

  std::string m_name;
  std::vector<std::shared_ptr<RegistryKey>> m_subkeys;
  std::unordered_map<std::string, std::shared_ptr<RegistryKey>> m_index;  // By folded name.
  std::size_t m_removedSlots = 0;
  std::size_t m_slot = 0;  // Position in the parent's m_subkeys.
  bool m_deleted = false;
  std::vector<RegistryValue> m_values;
};
