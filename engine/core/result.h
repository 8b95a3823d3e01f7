#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace duo {

/// Why an engine operation failed. Codes describe the input, not the code path.
enum class ErrorCode {
  Io,           ///< the file could not be opened, read or written
  Empty,        ///< the file holds no bytes
  Truncated,    ///< the data ends before the image does
  Corrupt,      ///< the data is malformed
  Unsupported,  ///< a format or feature we do not read or write
  TooLarge,     ///< the image or file exceeds the limits in limits.h
  InvalidArgument,
};

std::string_view toString(ErrorCode code);

/// An error with a message meant for people ("left.jpg: truncated JPEG data").
struct Error {
  ErrorCode code;
  std::string message;
};

/// Value or error, in the spirit of std::expected (which C++20 lacks).
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value)
      : m_data(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : m_data(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return m_data.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(m_data); }
  const T& value() const& { return std::get<0>(m_data); }
  T&& value() && { return std::get<0>(std::move(m_data)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const { return std::get<1>(m_data); }

 private:
  std::variant<T, Error> m_data;
};

/// Result of an operation that yields nothing on success.
struct Ok {};
using Status = Result<Ok>;

inline Error makeError(ErrorCode code, std::string message) {
  return Error{code, std::move(message)};
}

}  // namespace duo
