// Helpers for the registry tests: a private temporary directory per test, and
// an in-memory store made active for the Reg*A functions.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/registry_store.h"
#include "tests/support/active_registry.h"
#include "tests/support/temp_dir.h"

using test_support::readFile;
using test_support::ScopedActiveRegistry;
using test_support::TempDir;
using test_support::writeFile;

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
    m_active.emplace(m_store.get());
  }
  RegistryStore& operator*() { return *m_store; }
  RegistryStore* operator->() { return m_store.get(); }

 private:
  std::unique_ptr<RegistryStore> m_store;
  std::optional<ScopedActiveRegistry> m_active;  // goes before the store
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

// Bytes as the comma-separated hex pairs of a REGEDIT4 hex value.
inline std::string hexOf(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    if (!out.empty()) out += ',';
    out += buf;
  }
  return out;
}
