#include "shell/backup/registry_changes.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// Copies the values and subkeys of `from` in `source` into `to` in `target`,
// two different trees. The keys still to copy wait in a list rather than on
// the stack, however deep the tree.
void copyKeyContents(const RegistryTree& source, KeyId from, RegistryTree& target, KeyId to) {
  std::vector<std::pair<KeyId, KeyId>> pending{{from, to}};
  while (!pending.empty()) {
    const KeyId here = pending.back().first;
    const KeyId there = pending.back().second;
    pending.pop_back();
    source.forEachValue(here, [&](const RegistryValue& value) {
      target.setValue(there, value.name, value.type, value.data);
    });
    source.forEachSubkey(here, [&](KeyId child) {
      pending.emplace_back(child, target.findOrAddSubkey(there, source.name(child)));
    });
  }
}

std::string childPath(const std::string& parent, std::string_view name) {
  return parent + "\\" + std::string(name);
}

// What `after` lacks of `before` (at `path`): each key's values, then its
// subkeys in order, a removed one as a whole, depth first. Each level keeps
// the subkeys still to compare rather than the stack.
void diffKey(const RegistryTree& before_tree, KeyId before, const RegistryTree& after_tree,
             KeyId after, const std::string& path, RegistryRemovals& out) {
  struct Level {
    std::vector<KeyId> subkeys;  // Of the key in `before_tree`.
    std::size_t next = 0;
    KeyId after = kNoKey;
    std::string path;
  };
  std::vector<Level> levels;
  const auto enter = [&](KeyId b, KeyId a, std::string key_path) {
    std::size_t position = 0;
    before_tree.forEachValue(b, [&](const RegistryValue& value) {
      if (!after_tree.findValue(a, value.name))
        out.values.push_back(ValueRemoval{key_path, std::string(value.name), position});
      ++position;
    });
    Level level;
    level.after = a;
    level.path = std::move(key_path);
    before_tree.forEachSubkey(b, [&](KeyId child) { level.subkeys.push_back(child); });
    levels.push_back(std::move(level));
  };
  enter(before, after, path);
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.subkeys.size()) {
      levels.pop_back();
      continue;
    }
    const std::size_t position = level.next;
    const KeyId child = level.subkeys[level.next++];
    const std::string_view name = before_tree.name(child);
    const KeyId kept = after_tree.findSubkey(level.after, name);
    std::string child_path = childPath(level.path, name);
    if (kept == kNoKey)
      out.keys.push_back(KeyRemoval{std::move(child_path), position});
    else
      enter(child, kept, std::move(child_path));
  }
}

struct SplitKeyPath {
  std::optional<RootKey> root;
  std::vector<std::string_view> names;
};

SplitKeyPath splitKeyPath(std::string_view path) {
  SplitKeyPath split;
  std::size_t start = 0;
  bool first = true;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (first) {
      split.root = rootKeyFromName(part);
      first = false;
    } else {
      split.names.push_back(part);
    }
    start = end + 1;
  }
  return split;
}

// The key at `path` in `tree`, or kNoKey.
KeyId findKey(const RegistryTree& tree, std::string_view path) {
  const SplitKeyPath split = splitKeyPath(path);
  if (!split.root) return kNoKey;
  KeyId key = RegistryTree::rootKey(*split.root);
  for (const auto name : split.names) {
    if (name.empty()) return kNoKey;
    key = tree.findSubkey(key, name);
    if (key == kNoKey) return kNoKey;
  }
  return key;
}

// The key at `path` in `tree`, created with the keys above it when missing.
KeyId makeKey(RegistryTree& tree, std::string_view path) {
  const SplitKeyPath split = splitKeyPath(path);
  if (!split.root) return kNoKey;
  KeyId key = RegistryTree::rootKey(*split.root);
  for (const auto name : split.names) key = tree.findOrAddSubkey(key, name);
  return key;
}

std::string_view parentOf(std::string_view path) {
  const auto sep = path.rfind('\\');
  return sep == std::string_view::npos ? std::string_view() : path.substr(0, sep);
}

std::string_view lastNameOf(std::string_view path) {
  const auto sep = path.rfind('\\');
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

// Where a key stands: the root's number, then its position among its
// siblings at every level down. Sorting by it gives the order of a walk of
// the tree, depth first.
std::vector<std::size_t> placeOf(RegistryTree& tree, KeyId key) {
  std::vector<std::size_t> place;
  for (; tree.parent(key) != kNoKey; key = tree.parent(key)) place.push_back(tree.positionOf(key));
  place.push_back(key);
  std::reverse(place.begin(), place.end());
  return place;
}

std::string pathOf(const RegistryTree& tree, KeyId key) {
  if (tree.parent(key) == kNoKey) return std::string(tree.name(key));
  return childPath(pathOf(tree, tree.parent(key)), tree.name(key));
}

}  // namespace

// The tree is numbered tables and one arena, so a plain copy is a deep one;
// the copy's keys keep their numbers, which open handles go by.
RegistryTree cloneRegistryTree(const RegistryTree& tree) { return tree; }

RegistryRemovals findRemovals(const RegistryTree& before, const RegistryTree& after) {
  RegistryRemovals removals;
  for (std::size_t i = 0; i < kRootKeyCount; ++i) {
    const auto root = static_cast<RootKey>(i);
    diffKey(before, RegistryTree::rootKey(root), after, RegistryTree::rootKey(root),
            std::string(rootKeyName(root)), removals);
  }
  return removals;
}

RegistryRemovals removalsFromLog(RegistryTree& tree, std::span<const TreeRemoval> log) {
  std::unordered_set<KeyId> removed_keys;
  for (const auto& removal : log) {
    if (removal.value == kNoValueRecord) removed_keys.insert(removal.key);
  }
  // A removed key is listed at the top of what went with it; a value only
  // when its key stays.
  std::vector<std::pair<std::vector<std::size_t>, KeyRemoval>> keys;
  // A key's values come before those of the keys below it.
  std::vector<std::pair<std::vector<std::size_t>, ValueRemoval>> values;
  for (const auto& removal : log) {
    if (removal.value == kNoValueRecord) {
      if (removed_keys.count(tree.parent(removal.key)) != 0) continue;
      keys.emplace_back(placeOf(tree, removal.key), KeyRemoval{pathOf(tree, removal.key), 0});
      keys.back().second.position = keys.back().first.back();
    } else if (removed_keys.count(removal.key) == 0) {
      const std::size_t position = tree.valuePosition(removal.key, removal.value);
      values.emplace_back(
          placeOf(tree, removal.key),
          ValueRemoval{pathOf(tree, removal.key), std::string(tree.valueRecord(removal.value).name),
                       position});
    }
  }
  std::sort(keys.begin(), keys.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return a.second.position < b.second.position;
  });
  RegistryRemovals removals;
  for (auto& key : keys) removals.keys.push_back(std::move(key.second));
  for (auto& value : values) removals.values.push_back(std::move(value.second));
  return removals;
}

RegistryTree removalsAsTree(const RegistryTree& before, const RegistryRemovals& removals) {
  RegistryTree saved;
  for (const auto& removal : removals.keys) {
    const KeyId from = findKey(before, removal.path);
    const KeyId to = makeKey(saved, removal.path);
    if (from != kNoKey && to != kNoKey) copyKeyContents(before, from, saved, to);
  }
  for (const auto& removal : removals.values) {
    const KeyId from = findKey(before, removal.keyPath);
    const auto value = from != kNoKey ? before.findValue(from, removal.name) : std::nullopt;
    const KeyId to = makeKey(saved, removal.keyPath);
    if (value && to != kNoKey) saved.setValue(to, value->name, value->type, value->data);
  }
  return saved;
}

std::vector<std::string> putBackRemovals(RegistryTree& tree, const RegistryTree& saved,
                                         const RegistryRemovals& removals) {
  std::vector<std::string> conflicts;
  // Positions were taken in the order of the old subkeys and values, so they
  // go back in that order: each lands where it was once those before it are
  // back.
  for (const auto& removal : removals.keys) {
    const KeyId from = findKey(saved, removal.path);
    const KeyId parent = findKey(tree, parentOf(removal.path));
    if (from == kNoKey) {
      conflicts.push_back(removal.path + ": the backup does not hold this key");
    } else if (parent == kNoKey) {
      conflicts.push_back(removal.path + ": the key above it is gone");
    } else if (const KeyId added =
                   tree.insertSubkeyAt(parent, removal.position, lastNameOf(removal.path));
               added != kNoKey) {
      copyKeyContents(saved, from, tree, added);
    } else {
      conflicts.push_back(removal.path + ": the key exists again");
    }
  }
  for (const auto& removal : removals.values) {
    const KeyId from = findKey(saved, removal.keyPath);
    const auto value = from != kNoKey ? saved.findValue(from, removal.name) : std::nullopt;
    const KeyId key = findKey(tree, removal.keyPath);
    const std::string where = removal.keyPath + " value \"" + removal.name + "\"";
    if (!value) {
      conflicts.push_back(where + ": the backup does not hold this value");
    } else if (key == kNoKey) {
      conflicts.push_back(where + ": the key is gone");
    } else if (!tree.insertValueAt(key, removal.position, *value)) {
      conflicts.push_back(where + ": the value exists again");
    }
  }
  return conflicts;
}
