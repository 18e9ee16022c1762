// Small helpers for the UTF-16 text the launcher works in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrelo {

// Decimal digits of an unsigned integer (an error number, a size).
std::u16string DecimalText(std::uint32_t value);

// Decimal digits of a signed integer, with a leading '-' when negative.
std::u16string SignedDecimalText(std::int32_t value);

// Text with ASCII letters folded to lower case; other code units unchanged.
std::u16string AsciiLower(std::u16string_view text);

// Widens 7-bit ASCII text (used for fixed texts and tests).
std::u16string FromAscii(std::string_view text);

}  // namespace tavrelo
