#include "platform/creg/system_registry.h"

#include <deque>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "platform/creg/creg_writer.h"

namespace creg {
namespace {

const KeyId kLocalMachine = RegistryTree::rootKey(RootKey::LocalMachine);
const KeyId kCurrentConfig = RegistryTree::rootKey(RootKey::CurrentConfig);

std::vector<KeyId> subkeysOf(const RegistryTree& tree, KeyId key) {
  std::vector<KeyId> keys;
  tree.forEachSubkey(key, [&](KeyId k) { keys.push_back(k); });
  return keys;
}

// Lays `from` over `to` in the same tree: keys that `to` lacks are added,
// values it lacks are appended. Names and data are copied out first, as
// adding may move the tree's storage. The walk keeps its own list of the
// pairs still to lay, so that a deep tree costs memory, not stack.
void layOver(RegistryTree& tree, KeyId from, KeyId to) {
  std::vector<std::pair<KeyId, KeyId>> pending{{from, to}};
  std::vector<std::tuple<std::string, DWORD, std::string>> values;
  std::vector<KeyId> children;
  while (!pending.empty()) {
    const KeyId source = pending.back().first;
    const KeyId target = pending.back().second;
    pending.pop_back();
    values.clear();
    tree.forEachValue(source, [&](const RegistryValue& v) {
      values.emplace_back(std::string(v.name), v.type, std::string(v.data));
    });
    for (const auto& [name, type, data] : values) {
      if (!tree.findValue(target, name)) tree.setValue(target, name, type, data);
    }
    // The subkeys are added in their order; each one's own subtree is laid
    // later, which changes no list of this level.
    children.clear();
    tree.forEachSubkey(source, [&](KeyId k) { children.push_back(k); });
    for (const KeyId child : children) {
      const std::string name(tree.name(child));
      pending.emplace_back(child, tree.findOrAddSubkey(target, name));
    }
  }
}

// Removes `key` and its subtree, each key after its subkeys.
void removeSubtree(RegistryTree& tree, KeyId key) {
  std::vector<KeyId> order{key};  // Each key before its subkeys; removed from the end.
  for (std::size_t i = 0; i < order.size(); ++i)
    tree.forEachSubkey(order[i], [&](KeyId k) { order.push_back(k); });
  for (auto k = order.rbegin(); k != order.rend(); ++k) tree.removeSubkey(*k);
}

// A key's path for a message: `base`, then each name after a backslash.
std::string pathText(std::string_view base, const std::vector<std::string_view>& names) {
  std::string text(base);
  for (const std::string_view name : names) {
    text += '\\';
    text += name;
  }
  return text;
}

// Whether everything in `changed` below `c` is in `original` below `o`, the
// same: a tree that only lost keys and values. Says where it is not. `names`
// is the path from the root named `base` down to `c`, and is so again on
// return. Depth first, with a list of the subkeys still to visit per level.
Result<void> onlyRemovals(const RegistryTree& changed, KeyId c, const RegistryTree& original,
                          KeyId o, std::string_view base, std::vector<std::string_view>& names) {
  const std::size_t baseDepth = names.size();
  // The values of one key that `original` lacks or holds otherwise.
  const auto valuesKept = [&](KeyId inChanged, KeyId inOriginal) -> Result<void> {
    Result<void> result;
    changed.forEachValue(inChanged, [&](const RegistryValue& value) {
      if (!result) return;
      const auto before = original.findValue(inOriginal, value.name);
      if (!before || before->name != value.name || before->type != value.type ||
          before->data != value.data)
        result = Error{pathText(base, names) + ": the value \"" + std::string(value.name) +
                       "\" is new or changed"};
    });
    return result;
  };
  struct Level {
    KeyId original;
    std::vector<KeyId> subkeys;  // Of the key in `changed`.
    std::size_t next = 0;
  };
  std::vector<Level> levels;
  const auto enter = [&](KeyId inChanged, KeyId inOriginal) -> Result<void> {
    if (auto r = valuesKept(inChanged, inOriginal); !r) return r;
    Level level{inOriginal, {}, 0};
    changed.forEachSubkey(inChanged, [&](KeyId k) { level.subkeys.push_back(k); });
    levels.push_back(std::move(level));
    return {};
  };
  Result<void> result = enter(c, o);
  while (result && !levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.subkeys.size()) {
      levels.pop_back();
      if (!levels.empty()) names.pop_back();
      continue;
    }
    const KeyId child = level.subkeys[level.next++];
    names.push_back(changed.name(child));
    const KeyId before = original.findSubkey(level.original, changed.name(child));
    if (before == kNoKey || original.name(before) != changed.name(child))
      result = Error{pathText(base, names) + ": the key is new or renamed"};
    else
      result = enter(child, before);
  }
  names.resize(baseDepth);
  return result;
}

// What `changed` lacks of `original`, below `c` and `o`: whole keys, and the
// values of keys that stay, each by its path of names below the root.
struct Removed {
  std::vector<std::vector<std::string>> keys;
  std::vector<std::pair<std::vector<std::string>, std::string>> values;
};

// Finds what `changed` lacks of `original` below `c` and `o`, and whether it
// lacks only that: false as soon as `changed` holds a key or value that
// `original` does not hold as it is (onlyRemovals then says which). Each key
// and value of `original` is looked up once in `changed`; as names are unique
// in either tree, `changed` holds nothing more when it holds as many as were
// found. `path` is the path of names down to `o`.
//
// Removals keep the order of what stays, so the next of `changed`'s values
// and subkeys not yet met is, as a rule, the one looked for: when its name is
// the same byte for byte it is the one a lookup would find (no two names
// differ only in case), and the lookup is spared.
class RemovalFinder {
 public:
  RemovalFinder(const RegistryTree& original, const RegistryTree& changed, Removed& removed)
      : m_original(original), m_changed(changed), m_removed(removed) {}

  // Depth first from `o` and `c`, keeping per level the subkeys still to look
  // up; `path` is as it was on return.
  bool find(KeyId o, KeyId c, std::vector<std::string_view>& path) {
    const std::size_t baseDepth = path.size();
    const bool same = walk(o, c, path);
    path.resize(baseDepth);
    return same;
  }

 private:
  struct Level {
    KeyId changedKey = kNoKey;
    std::vector<KeyId> original;  // The subkeys of the key in `original`, in order.
    std::vector<KeyId> changed;   // Those of the key in `changed`.
    std::size_t nextOriginal = 0;
    std::size_t nextChanged = 0;  // The next of `changed`'s not yet met.
    std::size_t found = 0;
  };

  bool walk(KeyId o, KeyId c, std::vector<std::string_view>& path) {
    std::size_t depth = 0;
    if (!enter(o, c, path, depth)) return false;
    while (depth != 0) {
      Level& level = m_levels[depth - 1];
      if (level.nextOriginal == level.original.size()) {
        if (level.changed.size() != level.found) return false;
        --depth;
        if (depth != 0) path.pop_back();
        continue;
      }
      const KeyId child = level.original[level.nextOriginal++];
      const std::string_view name = m_original.name(child);
      KeyId after = kNoKey;
      if (level.nextChanged < level.changed.size() &&
          m_changed.name(level.changed[level.nextChanged]) == name)
        after = level.changed[level.nextChanged++];
      else
        after = m_changed.findSubkey(level.changedKey, name);
      path.push_back(name);
      if (after == kNoKey) {
        m_removed.keys.emplace_back(path.begin(), path.end());
        path.pop_back();
        continue;
      }
      ++level.found;
      if (m_changed.name(after) != name || !enter(child, after, path, depth)) return false;
    }
    return true;
  }

  // The values of `o` and `c` (what `c` lacks is noted), then a new level
  // for their subkeys; false when `c` holds a value `o` does not hold as is.
  bool enter(KeyId o, KeyId c, std::vector<std::string_view>& path, std::size_t& depth) {
    bool same = true;
    std::size_t found = 0;
    m_values.clear();
    m_changed.forEachValue(c, [&](const RegistryValue& value) { m_values.push_back(value); });
    std::size_t next = 0;
    m_original.forEachValue(o, [&](const RegistryValue& value) {
      std::optional<RegistryValue> after;
      if (next < m_values.size() && m_values[next].name == value.name)
        after = m_values[next++];
      else
        after = m_changed.findValue(c, value.name);
      if (!after) {
        m_removed.values.emplace_back(std::vector<std::string>(path.begin(), path.end()),
                                      value.name);
        return;
      }
      ++found;
      same = same && after->name == value.name && after->type == value.type &&
             after->data == value.data;
    });
    if (!same || m_values.size() != found) return false;
    if (m_levels.size() <= depth) m_levels.resize(depth + 1);
    Level& level = m_levels[depth++];
    level.original.clear();
    level.changed.clear();
    level.changedKey = c;
    level.nextOriginal = level.nextChanged = level.found = 0;
    m_original.forEachSubkey(o, [&](KeyId k) { level.original.push_back(k); });
    m_changed.forEachSubkey(c, [&](KeyId k) { level.changed.push_back(k); });
    return true;
  }

  const RegistryTree& m_original;
  const RegistryTree& m_changed;
  Removed& m_removed;
  std::vector<RegistryValue> m_values;
  std::deque<Level> m_levels;  // Kept from one key to the next, by depth.
};

KeyId findPath(const RegistryTree& tree, KeyId key, const std::vector<std::string>& path) {
  for (const auto& name : path) {
    if (key == kNoKey) break;
    key = tree.findSubkey(key, name);
  }
  return key;
}

// Makes the removals on `work` (which records them).
void apply(RegistryTree& work, KeyId root, const Removed& removed) {
  for (const auto& [path, name] : removed.values) {
    const KeyId key = findPath(work, root, path);
    if (key != kNoKey) work.removeValue(key, name);
  }
  for (const auto& path : removed.keys) {
    const KeyId key = findPath(work, root, path);
    if (key != kNoKey) removeSubtree(work, key);
  }
}

// The registry functions' view of a file's tree: HKEY_CURRENT_CONFIG is
// every profile under HKLM\Config laid over the others, in their order.
void addCurrentConfig(RegistryTree& view, std::vector<std::string>* profiles) {
  const KeyId config = view.findSubkey(kLocalMachine, "Config");
  if (config == kNoKey) return;
  for (const KeyId profile : subkeysOf(view, config)) {
    if (profiles != nullptr) profiles->emplace_back(view.name(profile));
    layOver(view, profile, kCurrentConfig);
  }
}

}  // namespace

Result<SystemRegistry> SystemRegistry::read(std::vector<std::uint8_t> bytes, std::string fileName) {
  SystemRegistry registry;
  registry.m_bytes = std::move(bytes);
  registry.m_fileName = std::move(fileName);
  auto loaded = loadFile(registry.m_bytes, registry.m_fileName);
  if (!loaded) return loaded.failure();
  registry.m_file = std::move(loaded).value();
  registry.m_view = registry.m_file.tree;
  addCurrentConfig(registry.m_view, &registry.m_profiles);
  return registry;
}

Result<std::vector<std::uint8_t>> SystemRegistry::write(const RegistryTree& changed,
                                                        RegistryTree* asRead) const {
  // What each root lost, once it is known to have lost only that.
  Removed fromMachine, fromConfig;
  std::vector<std::string_view> path;
  for (const auto& [root, name, removed] :
       {std::tuple{kLocalMachine, "HKEY_LOCAL_MACHINE", &fromMachine},
        std::tuple{kCurrentConfig, "HKEY_CURRENT_CONFIG", &fromConfig}}) {
    if (RemovalFinder(m_view, changed, *removed).find(root, root, path)) continue;
    auto r = onlyRemovals(changed, root, m_view, root, name, path);
    return Error{m_fileName + ": only removals can be written into this file, but " +
                 (r ? std::string("a key or value is new or changed") : r.error())};
  }
  RegistryTree work = m_file.tree;
  std::vector<TreeRemoval> log;
  work.recordRemovals(&log);
  // What left HKEY_CURRENT_CONFIG leaves every profile. HKEY_LOCAL_MACHINE's
  // own removals follow; those the profiles lost already are passed over.
  const KeyId config = work.findSubkey(kLocalMachine, "Config");
  for (const auto& profile : m_profiles) apply(work, work.findSubkey(config, profile), fromConfig);
  apply(work, kLocalMachine, fromMachine);
  work.recordRemovals(nullptr);
  auto bytes =
      writeRemovals(m_bytes, m_file.checked, m_file.map, work, kLocalMachine, log, m_fileName);
  // The new bytes hold `work` exactly: a reading of them gives it.
  if (bytes && asRead != nullptr) {
    *asRead = std::move(work);
    addCurrentConfig(*asRead, nullptr);
  }
  return bytes;
}

}  // namespace creg
