// Helpers for the registry tests: a private temporary directory per test, and
// an in-memory store made active for the Reg*A functions.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry/registry_store.h"

class TempDir final {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "uinq-reg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    m_path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loads `text` into an in-memory store and makes it the active registry for as
// long as the object lives.
class ActiveStore final {
 public:
  explicit ActiveStore(std::string_view text) {
    auto store = RegistryStore::fromText(text);
    if (!store) {
      ADD_FAILURE() << store.error();
      store = RegistryStore::fromText("REGEDIT4\r\n");
    }
    m_store = std::move(store).value();
    SetActiveRegistry(m_store.get());
  }
  ~ActiveStore() { SetActiveRegistry(nullptr); }
  RegistryStore& operator*() { return *m_store; }
  RegistryStore* operator->() { return m_store.get(); }

 private:
  std::unique_ptr<RegistryStore> m_store;
};

// Canonical text from a list of lines, each ended with CR LF.
inline std::string crlf(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (auto line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}
