// A run-time failure that carries an error number and a description a user
// can read, and Outcome, which a procedure that cannot always go on returns:
// its result, or the Failure that abandoned it. The launcher is built without
// C++ exceptions, so a failure travels up as a returned value, and the
// procedures with a failure check test for it and report it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tavrelo {

class Failure {
 public:
  Failure(std::uint32_t number, std::u16string description)
      : number_(number), description_(std::move(description)) {}

  std::uint32_t number() const { return number_; }
  const std::u16string& description() const { return description_; }

 private:
  std::uint32_t number_;
  std::u16string description_;
};

template <typename T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Outcome(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  // Only to be asked of an outcome that is ok(), and failure() of one that is not.
  T& value() { return *std::get_if<0>(&state_); }
  const T& value() const { return *std::get_if<0>(&state_); }
  const Failure& failure() const { return *std::get_if<1>(&state_); }

 private:
  std::variant<T, Failure> state_;
};

// The outcome of a procedure without a result: done, or the Failure.
template <>
class [[nodiscard]] Outcome<void> {
 public:
  Outcome() = default;
  Outcome(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  // Only to be asked of an outcome that is not ok().
  const Failure& failure() const { return *std::get_if<1>(&state_); }

 private:
  std::variant<std::monostate, Failure> state_;
};

// Error numbers the launcher raises itself.
inline constexpr std::uint32_t kErrorOutOfMemory = 7;
inline constexpr std::uint32_t kErrorTypeMismatch = 13;
inline constexpr std::uint32_t kErrorUnsupportedValueType = 1001;

}  // namespace tavrelo
