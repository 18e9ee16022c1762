// Reading a runtime's version from the name of its registry subkey.
#pragma once

#include <optional>
#include <string_view>

#include "common/failure.h"

namespace tavrelo {

// The number formed by the first three characters of `subkey_name` (all of it
// when shorter): optional blanks, an optional sign, digits with at most one
// '.' as the decimal point, optional blanks. The point is always '.', whatever
// the user's locale. Empty when the characters are not such a number.
std::optional<double> VersionPrefixNumber(std::u16string_view subkey_name);

// True when the version read from `subkey_name` is 1.5 or later. Fails with a
// type mismatch, naming the subkey, when it does not read as a number.
Outcome<bool> IsSupportedJavaVersion(std::u16string_view subkey_name);

}  // namespace tavrelo
