// libFuzzer target: any bytes as a Windows 9x registry file. The strict
// reading must refuse them with a message or accept them, without a fault;
// a refusal names the file. On a file it accepts, removing its first key's
// subtree and the values of its last key must write a file that passes the
// same check (the writer checks the result and compares its tree itself).
// The deepest key of the registry as the program sees it is removed and
// written, which walks the whole tree (tools/fuzz.sh starts from deep, wide
// and many-profile files too).
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/creg/creg_tree.h"
#include "platform/creg/creg_writer.h"
#include "platform/creg/system_registry.h"

namespace {

void removeSubtree(RegistryTree& tree, KeyId key) {
  std::vector<KeyId> order{key};  // Each key before its subkeys; removed from the end.
  for (std::size_t i = 0; i < order.size(); ++i)
    tree.forEachSubkey(order[i], [&](KeyId child) { order.push_back(child); });
  for (auto k = order.rbegin(); k != order.rend(); ++k) tree.removeSubkey(*k);
}

// The deepest key below `key`, the first one met at that depth.
KeyId deepest(const RegistryTree& tree, KeyId key) {
  for (KeyId child = key; child != kNoKey;) {
    key = child;
    child = kNoKey;
    tree.forEachSubkey(key, [&](KeyId k) {
      if (child == kNoKey) child = k;
    });
  }
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
  if (!loaded) {
    if (loaded.error().rfind("SYSTEM.DAT: offset 0x", 0) != 0) std::abort();
    return 0;
  }
  auto& file = loaded.value();
  if (auto registry = creg::SystemRegistry::read(
          std::vector<std::uint8_t>(bytes.begin(), bytes.end()), "SYSTEM.DAT");
      !registry) {
    std::abort();
  } else {
    const RegistryTree& view = registry.value().tree();
    // The write's walks over the whole view, down its deepest chain: the
    // deepest key of HKEY_CURRENT_CONFIG (or else of HKEY_LOCAL_MACHINE) and
    // its values removed.
    RegistryTree changed = view;
    const KeyId current = RegistryTree::rootKey(RootKey::CurrentConfig);
    const KeyId machine = RegistryTree::rootKey(RootKey::LocalMachine);
    KeyId bottom = deepest(changed, current);
    if (bottom == current) bottom = deepest(changed, machine);
    std::vector<std::string> values;
    changed.forEachValue(bottom, [&](const RegistryValue& v) { values.emplace_back(v.name); });
    for (const auto& name : values) changed.removeValue(bottom, name);
    if (bottom != current && bottom != machine) removeSubtree(changed, bottom);
    RegistryTree asRead;
    (void)registry.value().write(changed, &asRead);
  }
  const KeyId root = RegistryTree::rootKey(RootKey::LocalMachine);
  std::vector<KeyId> top;
  file.tree.forEachSubkey(root, [&](KeyId key) { top.push_back(key); });
  if (top.empty()) return 0;
  std::vector<TreeRemoval> log;
  file.tree.recordRemovals(&log);
  const KeyId last = top.back();
  std::vector<std::string> names;
  file.tree.forEachValue(last, [&](const RegistryValue& v) { names.emplace_back(v.name); });
  for (const auto& name : names) file.tree.removeValue(last, name);
  if (top.size() > 1) removeSubtree(file.tree, top.front());
  file.tree.recordRemovals(nullptr);
  auto out = creg::writeRemovals(bytes, file.checked, file.map, file.tree, root, log, "SYSTEM.DAT");
  if (!out || out.value().size() != size) std::abort();
  return 0;
}
