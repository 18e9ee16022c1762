#include "common/text.h"

namespace tavrelo {

std::u16string DecimalText(std::int64_t value) {
  // Work on the magnitude as unsigned so that the most negative value is fine.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                      : static_cast<std::uint64_t>(value);
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits.insert(digits.begin(), u'-');
  return digits;
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
