// Machine directories for end-to-end tests, and a read-only look at the
// registry file the program left.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/win32/windows.h"

class RegistryStore;

namespace e2e {

// A fresh demo machine in its own temporary directory, removed afterwards.
class TempMachine {
 public:
  TempMachine();
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::filesystem::path& dir() const { return m_dir; }
  std::string machineArg() const { return "--machine=" + m_dir.string(); }

  std::string read(const std::string& relative) const;
  void write(const std::string& relative, const std::string& bytes) const;
  bool exists(const std::string& relative) const;
  void remove(const std::string& relative) const;

  // Replaces the text of a registry value line "name"=... in the registry file.
  void replaceInRegistry(const std::string& from, const std::string& to) const;

 private:
  std::filesystem::path m_dir;
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
};

}  // namespace e2e
