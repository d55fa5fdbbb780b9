// The whole registry in memory: one key tree per root key, and which roots the
// file named and in what order, so that saving writes them back the same way.
//
// Keys are numbered (KeyId) and kept in one table, values in another, and
// every name and data byte in one arena, so that a registry of 100,000 keys
// takes a few allocations rather than hundreds of thousands. A key keeps its
// name as first spelled, its values in order and its subkeys in the order in
// which they were added, or where a key put back was placed. Subkeys are
// found by name through the hash of the name's capital form, computed once
// when the key is added: a key with a few subkeys compares their hashes in
// turn, one with more has an index of them (key_index.h).
//
// A removed key keeps its number and is marked deleted, so that an open
// handle to it fails instead of reaching another key. A removed subkey leaves
// an empty slot in its parent's list that is squeezed out the next time the
// subkeys are read by position; that keeps removing every subkey of a key
// linear.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/registry/key_index.h"
#include "platform/registry/name_fold.h"
#include "platform/registry/registry_arena.h"
#include "platform/winbase/winbase.h"

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

inline constexpr std::size_t kRootKeyCount = 5;

// "HKEY_LOCAL_MACHINE" and so on; the spelling regedit writes.
std::string_view rootKeyName(RootKey root);
// Matches a root's name without regard to case.
std::optional<RootKey> rootKeyFromName(std::string_view name);
// The predefined handle (HKEY_LOCAL_MACHINE, ...) of a root and back.
HKEY rootKeyHandle(RootKey root);
std::optional<RootKey> rootKeyFromHandle(HKEY handle);

// One removal from a tree that records them: a key (value == kNoValueRecord)
// or one value of `key`, and where it stood among its siblings at that moment.
// Removed keys and values keep their records, so a removal can be undone and
// done again without copying what it removed.
inline constexpr std::uint32_t kNoValueRecord = UINT32_MAX;
struct TreeRemoval {
  KeyId key = kNoKey;
  std::uint32_t value = kNoValueRecord;
  std::size_t position = 0;
};

struct RegistryValue {
  std::string_view name;  // As spelled in the file; empty for the default value.
  DWORD type = REG_NONE;
  std::string_view data;  // The stored bytes; a REG_SZ holds its terminating zero.
};

class RegistryTree final {
 public:
  RegistryTree();

  // The roots are keys like the others, numbered in RootKey order.
  static KeyId rootKey(RootKey root) { return static_cast<KeyId>(root); }

  // Records that the file mentions `root` (in its own section or above a key),
  // keeping the first mention's place in the order.
  void noteMentioned(RootKey root);
  // Records that the root has a section of its own.
  void noteListed(RootKey root);
  bool listed(RootKey root) const { return m_listed[static_cast<std::size_t>(root)]; }
  const std::vector<RootKey>& mentionOrder() const { return m_order; }

  // Keys. `key` is always a number this tree gave out.
  std::string_view name(KeyId key) const;
  // True once the key has been removed from its parent.
  bool deleted(KeyId key) const { return m_keys[key].deleted; }
  std::size_t subkeyCount(KeyId key) const;
  bool hasSubkeys(KeyId key) const { return subkeyCount(key) != 0; }
  // The subkey at `index` in order, or kNoKey past the end.
  KeyId subkeyAt(KeyId key, std::size_t index);
  // The subkey with that name in any letter case, or kNoKey.
  KeyId findSubkey(KeyId parent, std::string_view name) const;
  // Returns the subkey with that name, appending it at the end when it is new.
  KeyId findOrAddSubkey(KeyId parent, std::string_view name);
  // Adds a new subkey at `index` among the subkeys (at the end when `index` is
  // past it), so that a key put back lands where it was; kNoKey when a subkey
  // of that name exists already.
  KeyId insertSubkeyAt(KeyId parent, std::size_t index, std::string_view name);
  // Removes a key that has no subkeys of its own from its parent and marks it
  // deleted. A root is never removed.
  void removeSubkey(KeyId child);

  // Calls `visit(KeyId)` for each subkey in order.
  template <typename Visit>
  void forEachSubkey(KeyId key, Visit&& visit) const {
    const std::uint32_t list = m_keys[key].subkeys;
    if (list == kNone) return;
    for (KeyId child : m_subkeyLists[list].ids) {
      if (child != kNoKey) visit(child);
    }
  }

  // Values, in order.
  template <typename Visit>
  void forEachValue(KeyId key, Visit&& visit) const {
    for (std::uint32_t v = m_keys[key].firstValue; v != kNone; v = m_values[v].next) {
      visit(valueAt(v));
    }
  }
  bool hasValues(KeyId key) const { return m_keys[key].firstValue != kNone; }
  std::optional<RegistryValue> findValue(KeyId key, std::string_view name) const;
  // Sets a value whose name and data are in arena(); one that exists under that
  // name (in any letter case) keeps its place and spelling and takes the new
  // type and data.
  void setValue(KeyId key, ArenaSpan name, DWORD type, ArenaSpan data);
  // The same for a name and data held elsewhere, which are copied into
  // arena(); they must not lie in this tree's arena already.
  void setValue(KeyId key, std::string_view name, DWORD type, std::string_view data);
  // Adds a value at `index` among the values (at the end when past it); false
  // when a value of that name exists already. Its name and data are copied as
  // by setValue.
  bool insertValueAt(KeyId key, std::size_t index, const RegistryValue& value);
  bool removeValue(KeyId key, std::string_view name);

  // While `log` is set, every key and value removed is appended to it; null
  // stops the recording. A copy of the tree does not record.
  void recordRemovals(std::vector<TreeRemoval>* log) { m_log.log = log; }
  // Puts back a recorded removal where it was. Removals are undone in the
  // reverse order of their making, each on the tree as it made it.
  void undoRemoval(const TreeRemoval& removal);
  // Makes a recorded removal again, on the tree as it was when first made.
  void redoRemoval(const TreeRemoval& removal);
  // The key above `key`; kNoKey for a root.
  KeyId parent(KeyId key) const { return m_keys[key].parent; }
  // The position of a key that is in the tree among its parent's subkeys.
  std::size_t positionOf(KeyId key);
  // A value's record: what it holds and its place among its key's values.
  RegistryValue valueRecord(std::uint32_t value) const { return valueAt(value); }
  std::size_t valuePosition(KeyId key, std::uint32_t value) const;

  // For the reader: where names and data go, and room for what it counted.
  RegistryArena& arena() { return m_arena; }
  void reserve(std::size_t keys, std::size_t values, std::size_t bytes);
  // The size of the text the tree was read from: about what its text takes
  // when written again, so that the writer can make room for it at once.
  void noteTextSize(std::size_t bytes) { m_textSize = bytes; }
  std::size_t textSize() const { return m_textSize; }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct KeyRecord {
    ArenaSpan name;
    std::uint32_t nameHash = 0;  // foldedNameHash() of the name.
    KeyId parent = kNoKey;
    std::uint32_t slot = 0;            // Position in the parent's subkey list.
    std::uint32_t subkeys = kNone;     // Its subkey list, once it has one.
    std::uint32_t firstValue = kNone;  // Its values, linked in order.
    std::uint32_t lastValue = kNone;
    bool deleted = false;
  };
  struct SubkeyList {
    std::vector<KeyId> ids;  // kNoKey where a subkey was removed.
    std::size_t removed = 0;
    KeyIndex index;  // Empty while the list is short enough to search in turn.
  };
  // Up to this many subkeys are searched in turn, without an index.
  static constexpr std::size_t kUnindexedSubkeys = 8;
  struct ValueRecord {
    ArenaSpan name;
    ArenaSpan data;
    DWORD type = REG_NONE;
    std::uint32_t next = kNone;
  };

  // The recording's target; not carried over to a copy of the tree.
  struct LogLink {
    std::vector<TreeRemoval>* log = nullptr;
    LogLink() = default;
    LogLink(const LogLink&) {}
    LogLink& operator=(const LogLink&) { return *this; }
  };

  RegistryValue valueAt(std::uint32_t v) const {
    return RegistryValue{m_arena.view(m_values[v].name), m_values[v].type,
                         m_arena.view(m_values[v].data)};
  }
  // Defined here, as the reader asks for each value it sets.
  std::uint32_t findValueRecord(KeyId key, std::string_view name) const {
    for (std::uint32_t v = m_keys[key].firstValue; v != kNone; v = m_values[v].next) {
      if (m_values[v].name.size == name.size() && namesEqual(m_arena.view(m_values[v].name), name))
        return v;
    }
    return kNone;
  }
  SubkeyList& subkeyListOf(KeyId parent);
  // Adds a key named `name` (hash `hash`) to `parent`'s list at `slot`.
  KeyId addSubkey(KeyId parent, std::size_t slot, std::uint32_t hash, std::string_view name);
  // Puts key `id` into `parent`'s list at `slot`.
  void linkSubkey(KeyId parent, std::size_t slot, KeyId id);
  // Takes value record `v` out of `key`'s list, `previous` being the one
  // before it.
  void unlinkValue(KeyId key, std::uint32_t v, std::uint32_t previous);
  // Puts value record `v` into `key`'s list at `index`.
  void linkValueAt(KeyId key, std::size_t index, std::uint32_t v);
  void compact(SubkeyList& list);
  KeyId findInList(const SubkeyList& list, std::uint32_t hash, std::string_view name) const;

  RegistryArena m_arena;
  std::vector<KeyRecord> m_keys;
  std::vector<SubkeyList> m_subkeyLists;
  std::vector<ValueRecord> m_values;
  std::array<bool, kRootKeyCount> m_listed{};
  std::vector<RootKey> m_order;
  std::size_t m_textSize = 0;
  LogLink m_log;
};
