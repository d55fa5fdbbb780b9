// Joining a tree read from the later part of a text onto the tree of the
// part before it, so that two parts can be read at once.
#include <cassert>

#include "platform/registry/registry_tree.h"

void RegistryTree::append(RegistryTree&& later) {
  for (RootKey root : later.m_order) noteMentioned(root);
  for (std::size_t i = 0; i < kRootKeyCount; ++i) m_listed[i] = m_listed[i] || later.m_listed[i];

  // The later bytes go behind these, and the later values behind these, so
  // each of their places and numbers moves by as much.
  const auto byte_base = static_cast<std::uint32_t>(m_arena.mark());
  m_arena.append(later.m_arena.all());
  const auto moved = [byte_base](ArenaSpan span) {
    return ArenaSpan{span.offset + byte_base, span.size};
  };
  const auto value_base = static_cast<std::uint32_t>(m_values.size());
  const auto value_moved = [value_base](std::uint32_t v) {
    return v == kNone ? kNone : v + value_base;
  };
  m_values.reserve(value_base + later.m_values.size());
  for (const ValueRecord& theirs : later.m_values) {
    m_values.push_back(
        ValueRecord{moved(theirs.name), moved(theirs.data), theirs.type, value_moved(theirs.next)});
  }

  // Each later key but the roots gets a record here, numbered from
  // `key_base` on in the same order. A key whose parent is new here is new
  // too and keeps its place among its siblings. One below a key that was
  // here already is looked for there: when found, the later key is that
  // one, its values are set on it as a section naming it again would set
  // them, and its own record is left as a removed key's.
  const auto key_base = static_cast<KeyId>(m_keys.size());
  const auto key_moved = [key_base](KeyId k) { return key_base + k - kRootKeyCount; };
  std::vector<KeyId> ours(later.m_keys.size());
  for (KeyId k = 0; k < kRootKeyCount && k < later.m_keys.size(); ++k) ours[k] = k;
  m_keys.reserve(key_base + later.m_keys.size() - kRootKeyCount);
  for (KeyId k = kRootKeyCount; k < later.m_keys.size(); ++k) {
    const KeyRecord& theirs = later.m_keys[k];
    assert(theirs.parent < k && !theirs.deleted);
    const KeyId id = key_moved(k);
    const KeyId parent = ours[theirs.parent];
    KeyRecord record;
    record.name = moved(theirs.name);
    record.nameHash = theirs.nameHash;
    record.parent = parent;
    record.slot = theirs.slot;
    record.firstValue = value_moved(theirs.firstValue);
    record.lastValue = value_moved(theirs.lastValue);
    m_keys.push_back(record);
    ours[k] = parent >= key_base ? id : findOrLinkSubkey(parent, id);
    if (ours[k] != id) {
      m_keys[id].deleted = true;
      m_keys[id].firstValue = m_keys[id].lastValue = kNone;
    }
  }
  for (KeyId k = 0; k < later.m_keys.size(); ++k) {
    const KeyRecord& theirs = later.m_keys[k];
    if (ours[k] >= key_base) {
      if (theirs.subkeys != kNone)
        takeSubkeyList(ours[k], later.m_subkeyLists[theirs.subkeys], ours);
      continue;
    }
    for (std::uint32_t v = theirs.firstValue; v != kNone; v = later.m_values[v].next) {
      const ValueRecord& value = later.m_values[v];
      setValue(ours[k], moved(value.name), value.type, moved(value.data));
    }
  }
}

void RegistryTree::takeSubkeyList(KeyId key, const SubkeyList& theirs,
                                  const std::vector<KeyId>& ours) {
  const auto list = static_cast<std::uint32_t>(m_subkeyLists.size());
  SubkeyList& copy = m_subkeyLists.emplace_back();
  copy.ordered = theirs.ordered;
  copy.removed = theirs.removed;
  copy.ids.resize(theirs.ids.size());
  for (std::size_t i = 0; i < theirs.ids.size(); ++i) {
    copy.ids[i] = theirs.ids[i] == kNoKey ? kNoKey : ours[theirs.ids[i]];
  }
  if (!theirs.index.empty()) {
    copy.index.reserve(copy.ids.size() + 1);
    for (KeyId id : copy.ids) {
      if (id != kNoKey) copy.index.insert(m_keys[id].nameHash, id);
    }
  }
  m_keys[key].subkeys = list;
}
