// SYSTEM.DAT as the registry of a Windows 95 machine that is not running:
// HKEY_LOCAL_MACHINE is the file. HKEY_CURRENT_CONFIG is, on a running
// system, the hardware profile chosen at start (HKLM\Config\NNNN); offline no
// profile is chosen, so it is shown as all of them laid over each other, in
// their order (the first profile's value wins where two differ), and whatever
// is removed from it is removed from every profile that has it. Without a
// profile it is empty.
//
// Writing: the tree the program changed may differ from the one read only by
// removals; they are found by comparing the two, written into the file by
// deletion only, and the new bytes are checked and compared key by key with
// the file's tree minus those removals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/creg/creg_tree.h"
#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"

namespace creg {

class SystemRegistry final {
 public:
  // Checks and reads `bytes`; `fileName` is how messages name the file.
  static Result<SystemRegistry> read(std::vector<std::uint8_t> bytes, std::string fileName);

  // Both roots, as the registry functions see them.
  const RegistryTree& tree() const { return m_view; }
  // The hardware profiles, as named below HKLM\Config.
  const std::vector<std::string>& profiles() const { return m_profiles; }
  const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

  // The file's new bytes holding `changed` (a tree with the keys of tree()
  // but for removals). Refuses a tree with anything added or changed. With
  // `asRead`, it also receives both roots as a reading of the new bytes gives
  // them (the new bytes are compared with that tree before they are returned).
  Result<std::vector<std::uint8_t>> write(const RegistryTree& changed,
                                          RegistryTree* asRead = nullptr) const;

 private:
  SystemRegistry() = default;

  std::vector<std::uint8_t> m_bytes;
  std::string m_fileName;
  LoadedFile m_file;
  RegistryTree m_view;
  std::vector<std::string> m_profiles;
};

}  // namespace creg
