// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavrelo::fuzz {

// The input's bytes taken pairwise as UTF-16 code units.
inline std::u16string Utf16From(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

}  // namespace tavrelo::fuzz
