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
  m_keys.resize(kRootKeyCount);
  for (std::size_t i = 0; i < kRootKeyCount; ++i) m_keys[i].slot = static_cast<std::uint32_t>(i);
}

void RegistryTree::noteMentioned(RootKey root) {
  if (std::find(m_order.begin(), m_order.end(), root) == m_order.end()) m_order.push_back(root);
}

void RegistryTree::noteListed(RootKey root) {
  noteMentioned(root);
  m_listed[static_cast<std::size_t>(root)] = true;
}

void RegistryTree::reserve(std::size_t keys, std::size_t values, std::size_t bytes) {
  m_keys.reserve(m_keys.size() + keys);
  m_values.reserve(m_values.size() + values);
  m_arena.reserve(bytes);
}

std::string_view RegistryTree::name(KeyId key) const {
  if (key < kRootKeyCount) return rootKeyName(static_cast<RootKey>(key));
  return m_arena.view(m_keys[key].name);
}

std::size_t RegistryTree::subkeyCount(KeyId key) const {
  const std::uint32_t list = m_keys[key].subkeys;
  if (list == kNone) return 0;
  return m_subkeyLists[list].ids.size() - m_subkeyLists[list].removed;
}

KeyId RegistryTree::subkeyAt(KeyId key, std::size_t index) {
  const std::uint32_t list = m_keys[key].subkeys;
  if (list == kNone) return kNoKey;
  SubkeyList& subkeys = m_subkeyLists[list];
  if (subkeys.removed != 0) compact(subkeys);
  return index < subkeys.ids.size() ? subkeys.ids[index] : kNoKey;
}

void RegistryTree::compact(SubkeyList& list) {
  std::size_t out = 0;
  for (KeyId child : list.ids) {
    if (child == kNoKey) continue;
    m_keys[child].slot = static_cast<std::uint32_t>(out);
    list.ids[out++] = child;
  }
  list.ids.resize(out);
  list.removed = 0;
}

KeyId RegistryTree::findInList(const SubkeyList& list, std::uint32_t hash,
                               std::string_view name) const {
  const auto matches = [&](KeyId id) {
    return m_keys[id].nameHash == hash && namesEqual(m_arena.view(m_keys[id].name), name);
  };
  if (!list.index.empty()) return list.index.find(hash, matches);
  for (KeyId id : list.ids) {
    if (id != kNoKey && matches(id)) return id;
  }
  return kNoKey;
}

KeyId RegistryTree::findSubkey(KeyId parent, std::string_view name) const {
  const std::uint32_t list = m_keys[parent].subkeys;
  if (list == kNone) return kNoKey;
  return findInList(m_subkeyLists[list], foldedNameHash(name), name);
}

RegistryTree::SubkeyList& RegistryTree::subkeyListOf(KeyId parent) {
  if (m_keys[parent].subkeys == kNone) {
    m_keys[parent].subkeys = static_cast<std::uint32_t>(m_subkeyLists.size());
    m_subkeyLists.emplace_back();
  }
  return m_subkeyLists[m_keys[parent].subkeys];
}

KeyId RegistryTree::findOrAddSubkey(KeyId parent, std::string_view name) {
  SubkeyList& siblings = subkeyListOf(parent);
  const std::uint32_t hash = foldedNameHash(name);
  if (const KeyId found = findInList(siblings, hash, name); found != kNoKey) return found;
  return addSubkey(parent, siblings.ids.size(), hash, name);
}

KeyId RegistryTree::insertSubkeyAt(KeyId parent, std::size_t index, std::string_view name) {
  const std::uint32_t hash = foldedNameHash(name);
  SubkeyList& siblings = subkeyListOf(parent);
  if (findInList(siblings, hash, name) != kNoKey) return kNoKey;
  // Positions count the subkeys that are there, so empty slots go first.
  if (siblings.removed != 0) compact(siblings);
  return addSubkey(parent, std::min(index, siblings.ids.size()), hash, name);
}

KeyId RegistryTree::addSubkey(KeyId parent, std::size_t slot, std::uint32_t hash,
                              std::string_view name) {
  const KeyId id = static_cast<KeyId>(m_keys.size());
  KeyRecord record;
  record.name = m_arena.keep(name);
  record.nameHash = hash;
  record.parent = parent;
  m_keys.push_back(record);
  linkSubkey(parent, slot, id);
  return id;
}

void RegistryTree::linkSubkey(KeyId parent, std::size_t slot, KeyId id) {
  SubkeyList& siblings = m_subkeyLists[m_keys[parent].subkeys];
  m_keys[id].slot = static_cast<std::uint32_t>(slot);
  if (slot == siblings.ids.size()) {
    siblings.ids.push_back(id);
  } else {
    siblings.ids.insert(siblings.ids.begin() + static_cast<std::ptrdiff_t>(slot), id);
    // The subkeys after it moved up by one.
    for (std::size_t i = slot + 1; i < siblings.ids.size(); ++i) {
      if (siblings.ids[i] != kNoKey) m_keys[siblings.ids[i]].slot = static_cast<std::uint32_t>(i);
    }
  }
  if (!siblings.index.empty()) {
    siblings.index.insert(m_keys[id].nameHash, id);
  } else if (siblings.ids.size() > kUnindexedSubkeys) {
    // The list outgrew searching in turn: it is indexed from now on.
    for (KeyId sibling : siblings.ids) {
      if (sibling != kNoKey) siblings.index.insert(m_keys[sibling].nameHash, sibling);
    }
  }
}

void RegistryTree::removeSubkey(KeyId child) {
  KeyRecord& record = m_keys[child];
  if (child < kRootKeyCount || record.deleted || hasSubkeys(child)) return;
  SubkeyList& siblings = m_subkeyLists[m_keys[record.parent].subkeys];
  if (m_log.log != nullptr) {
    // Its position counts the subkeys before it, not the empty slots.
    std::size_t position = record.slot;
    if (siblings.removed != 0)
      position -= static_cast<std::size_t>(
          std::count(siblings.ids.begin(), siblings.ids.begin() + record.slot, kNoKey));
    m_log.log->push_back(TreeRemoval{child, kNoValueRecord, position});
  }
  siblings.ids[record.slot] = kNoKey;
  ++siblings.removed;
  siblings.index.erase(record.nameHash, child);
  record.deleted = true;
}

std::optional<RegistryValue> RegistryTree::findValue(KeyId key, std::string_view name) const {
  const std::uint32_t v = findValueRecord(key, name);
  if (v == kNone) return std::nullopt;
  return valueAt(v);
}

void RegistryTree::setValue(KeyId key, ArenaSpan name, DWORD type, ArenaSpan data) {
  KeyRecord& record = m_keys[key];
  // The first value of a key, as most are, has no name to meet.
  if (const std::uint32_t v =
          record.firstValue == kNone ? kNone : findValueRecord(key, m_arena.view(name));
      v != kNone) {
    m_values[v].type = type;
    m_values[v].data = data;
    return;
  }
  const auto v = static_cast<std::uint32_t>(m_values.size());
  m_values.push_back(ValueRecord{name, data, type, kNone});
  if (record.lastValue == kNone) {
    record.firstValue = v;
  } else {
    m_values[record.lastValue].next = v;
  }
  record.lastValue = v;
}

void RegistryTree::setValue(KeyId key, std::string_view name, DWORD type, std::string_view data) {
  const ArenaSpan kept_name = m_arena.keep(name);
  setValue(key, kept_name, type, m_arena.keep(data));
}

bool RegistryTree::insertValueAt(KeyId key, std::size_t index, const RegistryValue& value) {
  if (findValueRecord(key, value.name) != kNone) return false;
  const auto v = static_cast<std::uint32_t>(m_values.size());
  const ArenaSpan name = m_arena.keep(value.name);
  m_values.push_back(ValueRecord{name, m_arena.keep(value.data), value.type, kNone});
  linkValueAt(key, index, v);
  return true;
}

void RegistryTree::linkValueAt(KeyId key, std::size_t index, std::uint32_t v) {
  KeyRecord& record = m_keys[key];
  // The value it follows: the one at index - 1, or the last when there are fewer.
  std::uint32_t previous = kNone;
  for (std::uint32_t at = record.firstValue; at != kNone && index != 0; at = m_values[at].next) {
    previous = at;
    --index;
  }
  if (previous == kNone) {
    m_values[v].next = record.firstValue;
    record.firstValue = v;
  } else {
    m_values[v].next = m_values[previous].next;
    m_values[previous].next = v;
  }
  if (m_values[v].next == kNone) record.lastValue = v;
}

void RegistryTree::unlinkValue(KeyId key, std::uint32_t v, std::uint32_t previous) {
  KeyRecord& record = m_keys[key];
  const std::uint32_t next = m_values[v].next;
  if (previous == kNone) {
    record.firstValue = next;
  } else {
    m_values[previous].next = next;
  }
  if (record.lastValue == v) record.lastValue = previous;
}

bool RegistryTree::removeValue(KeyId key, std::string_view name) {
  std::uint32_t previous = kNone;
  std::size_t position = 0;
  for (std::uint32_t v = m_keys[key].firstValue; v != kNone;
       previous = v, v = m_values[v].next, ++position) {
    if (!namesEqual(m_arena.view(m_values[v].name), name)) continue;
    if (m_log.log != nullptr) m_log.log->push_back(TreeRemoval{key, v, position});
    unlinkValue(key, v, previous);
    return true;
  }
  return false;
}

void RegistryTree::undoRemoval(const TreeRemoval& removal) {
  if (removal.value != kNoValueRecord) {
    linkValueAt(removal.key, removal.position, removal.value);
    return;
  }
  const KeyId parent = m_keys[removal.key].parent;
  SubkeyList& siblings = m_subkeyLists[m_keys[parent].subkeys];
  if (siblings.removed != 0) compact(siblings);
  m_keys[removal.key].deleted = false;
  linkSubkey(parent, std::min(removal.position, siblings.ids.size()), removal.key);
}

void RegistryTree::redoRemoval(const TreeRemoval& removal) {
  if (removal.value == kNoValueRecord) {
    // Made again, it is recorded already.
    std::vector<TreeRemoval>* const log = m_log.log;
    m_log.log = nullptr;
    removeSubkey(removal.key);
    m_log.log = log;
    return;
  }
  std::uint32_t previous = kNone;
  for (std::uint32_t v = m_keys[removal.key].firstValue; v != kNone; v = m_values[v].next) {
    if (v == removal.value) {
      unlinkValue(removal.key, v, previous);
      return;
    }
    previous = v;
  }
}

std::size_t RegistryTree::positionOf(KeyId key) {
  SubkeyList& siblings = m_subkeyLists[m_keys[m_keys[key].parent].subkeys];
  if (siblings.removed != 0) compact(siblings);
  return m_keys[key].slot;
}

std::size_t RegistryTree::valuePosition(KeyId key, std::uint32_t value) const {
  std::size_t position = 0;
  for (std::uint32_t v = m_keys[key].firstValue; v != kNone && v != value; v = m_values[v].next)
    ++position;
  return position;
}
