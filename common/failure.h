// The one exception type of the launcher: a run-time failure that carries an
// error number and a description a user can read. Procedures that cannot go
// on throw it; the procedures with a failure check catch it and report it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

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

// Error numbers the launcher raises itself.
inline constexpr std::uint32_t kErrorOutOfMemory = 7;
inline constexpr std::uint32_t kErrorTypeMismatch = 13;
inline constexpr std::uint32_t kErrorUnsupportedValueType = 1001;

}  // namespace tavrelo
