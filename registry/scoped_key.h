// An open registry key that closes itself: RegCloseKey runs when the object
// goes out of scope, whichever way the function that opened it returns.
#pragma once

#include <utility>

#include "platform/win32/windows.h"

class ScopedKey final {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ScopedKey(ScopedKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
  ScopedKey& operator=(ScopedKey&& other) noexcept {
    if (this != &other) {
      close();
      m_key = std::exchange(other.m_key, nullptr);
    }
    return *this;
  }
  ~ScopedKey() { close(); }

  // RegOpenKeyExA on `path` below `parent`, after closing the key held so far.
  // The key is held only when the call succeeds; its result is returned as it
  // stands. What a failed call leaves in its output is never used or closed.
  LONG open(HKEY parent, LPCSTR path, REGSAM access) {
    close();
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(parent, path, 0, access, &key);
    if (result == ERROR_SUCCESS) m_key = key;
    return result;
  }

  // Closes the key now, for a caller that must close it before a later call
  // (a key is closed before it is deleted). Nothing happens when none is held.
  void close() {
    if (m_key != nullptr) RegCloseKey(std::exchange(m_key, nullptr));
  }

  HKEY get() const { return m_key; }
  explicit operator bool() const { return m_key != nullptr; }

 private:
  HKEY m_key = nullptr;
};
