// A value or an error message: what the platform layer's own (non-Win32)
// functions return when they can fail. The message is meant for the user as it
// stands: it names the file and, for a bad line, the line number, or the value
// that was refused. Result<void> is "done, or why not".
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

struct Error {
  std::string message;
  // The errno of the system call that failed, where one did; 0 otherwise. For
  // a caller that must answer with another system's error code.
  int code = 0;
};

template <typename T>
class [[nodiscard]] Result final {
 public:
  Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return m_state.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(m_state); }
  const T& value() const& { return std::get<0>(m_state); }
  T&& value() && { return std::get<0>(std::move(m_state)); }
  const std::string& error() const { return std::get<1>(m_state).message; }
  int errorCode() const { return std::get<1>(m_state).code; }
  // The whole error, message and errno: `return other.failure();` hands a
  // failure up as it is, whatever the value type of the caller's result.
  const Error& failure() const { return std::get<1>(m_state); }

 private:
  std::variant<T, Error> m_state;
};

template <>
class [[nodiscard]] Result<void> final {
 public:
  // Provided rather than defaulted, so that `return {};` only marks success
  // instead of clearing the whole object first: readers return it for each
  // of a file's lines.
  Result() {}
  Result(Error error) : m_error(std::move(error)) {}

  bool ok() const { return !m_error.has_value(); }
  explicit operator bool() const { return ok(); }

  const std::string& error() const { return m_error->message; }
  int errorCode() const { return m_error->code; }
  const Error& failure() const { return *m_error; }

 private:
  std::optional<Error> m_error;
};
