#include "platform/backup/registry_changes.h"

#include <memory>
#include <string_view>

namespace {

void copyKeyContents(const RegistryKey& from, RegistryKey& to) {
  for (const auto& value : from.values()) to.setValue(value.name, value.type, value.data);
  from.forEachSubkey(
      [&](const RegistryKey& child) { copyKeyContents(child, *to.findOrAddSubkey(child.name())); });
}

std::string childPath(const std::string& parent, const std::string& name) {
  return parent + "\\" + name;
}

void diffKey(const RegistryKey& before, const RegistryKey& after, const std::string& path,
             RegistryRemovals& out) {
  std::size_t position = 0;
  for (const auto& value : before.values()) {
    if (after.findValue(value.name) == nullptr)
      out.values.push_back(ValueRemoval{path, value.name, position});
    ++position;
  }
  position = 0;
  before.forEachSubkey([&](const RegistryKey& child) {
    const auto kept = after.findSubkey(child.name());
    if (!kept) {
      out.keys.push_back(KeyRemoval{childPath(path, child.name()), position});
    } else {
      diffKey(child, *kept, childPath(path, child.name()), out);
    }
    ++position;
  });
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

// The key at `path` in `tree`, or null.
std::shared_ptr<RegistryKey> findKey(const RegistryTree& tree, std::string_view path) {
  const SplitKeyPath split = splitKeyPath(path);
  if (!split.root) return nullptr;
  std::shared_ptr<RegistryKey> key = tree.rootPtr(*split.root);
  for (const auto name : split.names) {
    if (name.empty()) return nullptr;
    key = key->findSubkey(name);
    if (!key) return nullptr;
  }
  return key;
}

// The key at `path` in `tree`, created with the keys above it when missing.
std::shared_ptr<RegistryKey> makeKey(RegistryTree& tree, std::string_view path) {
  const SplitKeyPath split = splitKeyPath(path);
  if (!split.root) return nullptr;
  tree.noteMentioned(*split.root);
  std::shared_ptr<RegistryKey> key = tree.rootPtr(*split.root);
  for (const auto name : split.names) key = key->findOrAddSubkey(name);
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

}  // namespace

RegistryTree cloneRegistryTree(const RegistryTree& tree) {
  RegistryTree copy;
  for (const RootKey root : tree.mentionOrder()) {
    if (tree.listed(root)) {
      copy.noteListed(root);
    } else {
      copy.noteMentioned(root);
    }
  }
  for (std::size_t i = 0; i < kRootKeyCount; ++i) {
    const auto root = static_cast<RootKey>(i);
    copyKeyContents(tree.root(root), copy.root(root));
  }
  return copy;
}

RegistryRemovals findRemovals(const RegistryTree& before, const RegistryTree& after) {
  RegistryRemovals removals;
  for (std::size_t i = 0; i < kRootKeyCount; ++i) {
    const auto root = static_cast<RootKey>(i);
    diffKey(before.root(root), after.root(root), std::string(rootKeyName(root)), removals);
  }
  return removals;
}

RegistryTree removalsAsTree(const RegistryTree& before, const RegistryRemovals& removals) {
  RegistryTree saved;
  for (const auto& removal : removals.keys) {
    const auto from = findKey(before, removal.path);
    const auto to = makeKey(saved, removal.path);
    if (from && to) copyKeyContents(*from, *to);
  }
  for (const auto& removal : removals.values) {
    const auto from = findKey(before, removal.keyPath);
    const RegistryValue* value = from ? from->findValue(removal.name) : nullptr;
    const auto to = makeKey(saved, removal.keyPath);
    if (value != nullptr && to) to->setValue(value->name, value->type, value->data);
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
    const auto from = findKey(saved, removal.path);
    const auto parent = findKey(tree, parentOf(removal.path));
    if (!from) {
      conflicts.push_back(removal.path + ": the backup does not hold this key");
    } else if (!parent) {
      conflicts.push_back(removal.path + ": the key above it is gone");
    } else if (auto added = parent->insertSubkeyAt(removal.position, lastNameOf(removal.path))) {
      copyKeyContents(*from, *added);
    } else {
      conflicts.push_back(removal.path + ": the key exists again");
    }
  }
  for (const auto& removal : removals.values) {
    const auto from = findKey(saved, removal.keyPath);
    const RegistryValue* value = from ? from->findValue(removal.name) : nullptr;
    const auto key = findKey(tree, removal.keyPath);
    const std::string where = removal.keyPath + " value \"" + removal.name + "\"";
    if (value == nullptr) {
      conflicts.push_back(where + ": the backup does not hold this value");
    } else if (!key) {
      conflicts.push_back(where + ": the key is gone");
    } else if (!key->insertValueAt(removal.position, *value)) {
      conflicts.push_back(where + ": the value exists again");
    }
  }
  return conflicts;
}
