#include "common/text.h"

namespace tavrelo {

std::u16string DecimalText(std::uint32_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

std::u16string SignedDecimalText(std::int32_t value) {
  // The magnitude as unsigned, so that the most negative value is fine too.
  const std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value >= 0) return DecimalText(magnitude);
  return u"-" + DecimalText(0 - magnitude);
}

std::u16string AsciiLower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& unit : lower) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
  }
  return lower;
}

std::u16string FromAscii(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace tavrelo
