#include "tools/creg/creg_shapes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace creg_gen {

namespace {

// A letter and a number. Built in steps: GCC 12 at -O3 warns wrongly about
// overlapping copies inside a concatenation with a literal (GCC bug 105329).
std::string numbered(char letter, std::size_t number) {
  std::string name = std::to_string(number);
  name.insert(name.begin(), letter);
  return name;
}

}  // namespace

KeyId makePath(RegistryTree& tree, std::string_view path) {
  KeyId key = RegistryTree::rootKey(RootKey::LocalMachine);
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    key = tree.findOrAddSubkey(key, path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  return key;
}

void addChain(RegistryTree& tree, KeyId key, std::size_t depth) {
  for (std::size_t level = 1; level <= depth; ++level)
    key = tree.findOrAddSubkey(key, numbered('L', level));
  tree.setValue(key, "Depth", REG_DWORD, std::string_view("\0\0\0\0", 4));
}

void addWide(RegistryTree& tree, KeyId key, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const KeyId child = tree.findOrAddSubkey(key, numbered('W', i));
    tree.setValue(child, "Index", REG_SZ, std::to_string(i) + '\0');
  }
}

namespace {

// Copies the subtree of `from` into `to`, a key of the same tree outside it.
void copySubtree(RegistryTree& tree, KeyId from, KeyId to) {
  std::vector<std::pair<KeyId, KeyId>> pending{{from, to}};
  std::vector<std::tuple<std::string, DWORD, std::string>> values;
  std::vector<std::pair<KeyId, std::string>> children;
  while (!pending.empty()) {
    const KeyId source = pending.back().first;
    const KeyId target = pending.back().second;
    pending.pop_back();
    values.clear();
    tree.forEachValue(source, [&](const RegistryValue& v) {
      values.emplace_back(std::string(v.name), v.type, std::string(v.data));
    });
    for (const auto& [name, type, data] : values) tree.setValue(target, name, type, data);
    children.clear();
    tree.forEachSubkey(source,
                       [&](KeyId k) { children.emplace_back(k, std::string(tree.name(k))); });
    for (const auto& [child, name] : children)
      pending.emplace_back(child, tree.findOrAddSubkey(target, name));
  }
}

}  // namespace

void addProfiles(RegistryTree& tree, std::size_t count) {
  const KeyId config = tree.findOrAddSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "Config");
  KeyId first = kNoKey;
  unsigned long highest = 0;
  tree.forEachSubkey(config, [&](KeyId k) {
    if (first == kNoKey) first = k;
    highest = std::max(highest, std::strtoul(std::string(tree.name(k)).c_str(), nullptr, 10));
  });
  for (std::size_t i = 1; i <= count; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "%04lu", highest + i);
    const KeyId profile = tree.findOrAddSubkey(config, name);
    if (first != kNoKey) copySubtree(tree, first, profile);
  }
}

}  // namespace creg_gen
