// What a run removes from the registry, found by comparing the key tree before
// and after it, and how it is put back. A removal is recorded at the top key
// or value that went, with its position among its siblings at that moment, so
// that putting the removals back in ascending position restores the old order.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "platform/registry/registry_tree.h"

// A deep copy of a tree: its keys, values, and which roots the file named.
RegistryTree cloneRegistryTree(const RegistryTree& tree);

struct KeyRemoval {
  std::string path;  // "HKEY_LOCAL_MACHINE\Enum\ROOT\OPT0930MEDIA"
  std::size_t position = 0;
};

struct ValueRemoval {
  std::string keyPath;
  std::string name;
  std::size_t position = 0;
};

struct RegistryRemovals {
  std::vector<KeyRemoval> keys;
  std::vector<ValueRemoval> values;
  bool empty() const { return keys.empty() && values.empty(); }
};

// Keys and values of `before` that `after` no longer holds. A removed key is
// listed once, with its subtree; values are listed only for keys that stay.
// Keys and values that `after` added are not looked at.
RegistryRemovals findRemovals(const RegistryTree& before, const RegistryTree& after);

// The same list from what the tree recorded while one step removed things:
// `log` holds that step's removals, and `tree` must be as it was before the
// step (the removals undone). Needs no second tree.
RegistryRemovals removalsFromLog(RegistryTree& tree, std::span<const TreeRemoval> log);

// A tree holding just the removed keys (with their subtrees) and values, and
// the keys above them, to be written as REGEDIT4 text.
RegistryTree removalsAsTree(const RegistryTree& before, const RegistryRemovals& removals);

// Puts the removals back into `tree`, taking the keys and values from `saved`
// (the tree of removalsAsTree, as read back). Every place where that would
// overwrite what the tree holds now, or where a key to put something into is
// missing, is returned as a message and nothing of that removal is put back.
std::vector<std::string> putBackRemovals(RegistryTree& tree, const RegistryTree& saved,
                                         const RegistryRemovals& removals);
