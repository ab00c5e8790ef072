// Result<T>: a value or an expected failure (file errors, bad data) that Python sees as an exception.
#pragma once

#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace kestrum {

// Os: the operating system refused (os_errno says why; the binding picks the OSError
// subclass from it). InvalidInput: the data itself is wrong; always a plain OSError.
// Malformed: a standard-format file (TSPLIB, QAPLIB) breaks its format; a ValueError.
enum class ErrorKind { Os, InvalidInput, Malformed };

struct ReaderError {
  ErrorKind kind;
  int os_errno;  // 0 unless kind == Os
  std::string text;  // the exception's text, exactly as Python shows it

  // "No such file or directory (os error 2)"
  [[nodiscard]] static ReaderError from_errno(int errno_value) {
    return {ErrorKind::Os, errno_value,
            std::generic_category().message(errno_value) + " (os error " +
                std::to_string(errno_value) + ")"};
  }
  [[nodiscard]] static ReaderError invalid_input(std::string message) {
    return {ErrorKind::InvalidInput, 0, std::move(message)};
  }
  // "line 7: 'x' is not a number"
  [[nodiscard]] static ReaderError malformed(std::string message) {
    return {ErrorKind::Malformed, 0, std::move(message)};
  }
};

template <class T>
class [[nodiscard]] Result {
  static_assert(!std::is_same_v<T, ReaderError>, "a Result's value and its failure are told apart by type");

 public:
  Result(T value) : state_(std::in_place_type<T>, std::move(value)) {}  // NOLINT: implicit by design
  Result(ReaderError error) : state_(std::in_place_type<ReaderError>, std::move(error)) {}  // NOLINT

  [[nodiscard]] bool ok() const noexcept { return std::holds_alternative<T>(state_); }
  // Precondition: ok(). Callers branch on ok() first; a wrong guess is a programming error.
  [[nodiscard]] const T& value() const& { return std::get<T>(state_); }
  [[nodiscard]] T& value() & { return std::get<T>(state_); }
  [[nodiscard]] T&& value() && { return std::get<T>(std::move(state_)); }
  // Precondition: !ok().
  [[nodiscard]] const ReaderError& error() const& { return std::get<ReaderError>(state_); }
  [[nodiscard]] ReaderError&& error() && { return std::get<ReaderError>(std::move(state_)); }

 private:
  std::variant<T, ReaderError> state_;
};

}  // namespace kestrum
