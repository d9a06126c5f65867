// Failures below the binding layer are values: an error kind naming the Python
// exception the binding layer raises, and the finished message text.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vellomar {

enum class ErrorKind : unsigned char { value_error, key_error, index_error };

struct Error {
  ErrorKind kind;
  std::string message;
};

template <class T> class [[nodiscard]] Result {
public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T &value() & { return std::get<0>(state_); }
  T &&value() && { return std::get<0>(std::move(state_)); }
  const T &value() const & { return std::get<0>(state_); }
  const Error &error() const & { return std::get<1>(state_); }
  Error &&error() && { return std::get<1>(std::move(state_)); }

private:
  std::variant<T, Error> state_;
};

} // namespace vellomar
