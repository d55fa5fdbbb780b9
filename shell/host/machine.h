// The machine the program works on: the registry store and the drive folders
// of a machine directory, opened before anything is shown.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/result/result.h"

class RegistryStore;

namespace host {

class Machine final {
 public:
  // Checks the directory, opens (locks and loads) DIR/registry.reg, and binds
  // the registry functions and the drive letters to them. On failure returns a
  // message that names the path, having changed nothing. `option_hint` is how
  // the user names another directory ("--machine DIR").
  static Result<std::unique_ptr<Machine>> open(const std::filesystem::path& dir,
                                               const std::string& option_hint);

  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Writes the registry if it changed.
  Result<void> flush();
  // Writes and unlocks the registry and unbinds it; it is unbound even when
  // the write fails.
  Result<void> close();

  const std::filesystem::path& directory() const { return m_dir; }
  RegistryStore& store() { return *m_store; }

 private:
  Machine(std::filesystem::path dir, std::unique_ptr<RegistryStore> store);

  std::filesystem::path m_dir;
  std::unique_ptr<RegistryStore> m_store;
};

}  // namespace host
