// Machine directories for end-to-end tests, and a read-only look at the
// registry file the program left.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/win32/windows.h"
#include "tests/support/active_registry.h"
#include "tests/support/temp_dir.h"

class RegistryStore;

namespace e2e {

// A fresh demo machine in its own temporary directory, removed afterwards.
class TempMachine {
 public:
  TempMachine();

  const std::filesystem::path& dir() const { return m_temp.path(); }
  std::string machineArg() const {
    std::string arg = "--machine=";
    arg += dir().string();
    return arg;
  }

  std::string read(const std::string& relative) const;
  void write(const std::string& relative, const std::string& bytes) const;
  bool exists(const std::string& relative) const;
  void remove(const std::string& relative) const;

  // Replaces the text of a registry value line "name"=... in the registry file.
  void replaceInRegistry(const std::string& from, const std::string& to) const;

 private:
  test_support::TempDir m_temp{"uinq76-e2e"};
};

// The registry as the program left it, loaded in memory.
class RegistryView {
 public:
  explicit RegistryView(const std::string& regedit4_text);
  ~RegistryView();
  bool hasKey(HKEY root, const std::string& path) const;
  bool hasValue(HKEY root, const std::string& path, const std::string& name) const;

 private:
  std::unique_ptr<RegistryStore> m_store;
  std::optional<test_support::ScopedActiveRegistry> m_active;  // goes before the store
};

}  // namespace e2e
