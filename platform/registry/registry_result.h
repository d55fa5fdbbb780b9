// A value or an error message, for the store's own (non-Win32) interface.
// The message is meant for the user as it stands: it names the file and, for a
// bad line, the line number.
#pragma once

#include <string>
#include <utility>
#include <variant>

struct RegistryError {
  std::string message;
};

template <typename T>
class [[nodiscard]] RegistryResult final {
 public:
  RegistryResult(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
  RegistryResult(RegistryError error) : m_state(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return m_state.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(m_state); }
  T&& value() && { return std::get<0>(std::move(m_state)); }
  const std::string& error() const { return std::get<1>(m_state).message; }

 private:
  std::variant<T, RegistryError> m_state;
};
