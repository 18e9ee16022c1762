#include "launcher/splash_dib.h"

namespace tavrelo {
namespace {

constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::int32_t kMaxSide = 4096;
constexpr std::uint32_t kMaxColours = 256;

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// Walks the RLE8 codes of `bits` over a `width` x `height` picture.
bool CoversEveryPixel(std::span<const std::uint8_t> bits, std::int32_t width, std::int32_t height,
                      std::uint32_t colours) {
  std::size_t at = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  while (at + 2 <= bits.size()) {
    const std::uint8_t count = bits[at];
    const std::uint8_t value = bits[at + 1];
    at += 2;
    if (count > 0) {  // a run of `count` pixels of index `value`
      if (y >= height || count > width - x || std::uint32_t{value} >= colours) return false;
      x += count;
    } else if (value == 0) {  // end of line
      if (x != width) return false;
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return (y == height && x == 0) || (y == height - 1 && x == width);
    } else if (value == 2) {  // delta: skips pixels
      return false;
    } else {  // absolute mode: `value` indices, padded to an even length
      const std::size_t padded = value + (value & 1u);
      if (y >= height || value > width - x || padded > bits.size() - at) return false;
      for (std::size_t i = 0; i < value; ++i) {
        if (std::uint32_t{bits[at + i]} >= colours) return false;
      }
      x += value;
      at += padded;
    }
  }
  return false;  // the data ended before end-of-bitmap
}

// Every pixel of the uncompressed rows in `bits`, padding left aside.
bool IndicesInPalette(std::span<const std::uint8_t> bits, std::size_t stride, std::int32_t width,
                      std::uint32_t colours) {
  for (std::size_t row = 0; row < bits.size(); row += stride) {
    for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
      if (std::uint32_t{bits[row + x]} >= colours) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<SplashDib> ParseSplashDib(std::span<const std::uint8_t> resource) {
  if (resource.size() < kInfoHeaderSize || ReadU32(resource, 0) != kInfoHeaderSize) return std::nullopt;
  SplashDib dib;
  dib.width = static_cast<std::int32_t>(ReadU32(resource, 4));
  dib.height = static_cast<std::int32_t>(ReadU32(resource, 8));
  const std::uint16_t planes = ReadU16(resource, 12);
  const std::uint16_t bit_count = ReadU16(resource, 14);
  const std::uint32_t compression = ReadU32(resource, 16);
  dib.bits_size = ReadU32(resource, 20);
  std::uint32_t colours = ReadU32(resource, 32);
  if (colours == 0) colours = kMaxColours;  // 0 means the full palette
  // A negative height would be a top-down bitmap, which RLE cannot be; the
  // launcher takes bottom-up bitmaps alone.
  if (dib.width <= 0 || dib.width > kMaxSide || dib.height <= 0 || dib.height > kMaxSide ||
      planes != 1 || bit_count != 8 || (compression != kBiRle8 && compression != kBiRgb) ||
      colours > kMaxColours) {
    return std::nullopt;
  }
  dib.bits_offset = kInfoHeaderSize + 4 * std::size_t{colours};
  if (dib.bits_offset > resource.size()) return std::nullopt;
  const std::size_t available = resource.size() - dib.bits_offset;
  if (compression == kBiRgb) {
    const std::size_t stride = (static_cast<std::size_t>(dib.width) + 3) & ~std::size_t{3};
    const std::size_t rows_size = stride * static_cast<std::size_t>(dib.height);
    if ((dib.bits_size != 0 && dib.bits_size < rows_size) || rows_size > available) return std::nullopt;
    dib.bits_size = rows_size;
    if (!IndicesInPalette(resource.subspan(dib.bits_offset, rows_size), stride, dib.width, colours)) {
      return std::nullopt;
    }
    return dib;
  }
  if (dib.bits_size == 0 || dib.bits_size > available) return std::nullopt;
  if (!CoversEveryPixel(resource.subspan(dib.bits_offset, dib.bits_size), dib.width, dib.height,
                        colours)) {
    return std::nullopt;
  }
  return dib;
}

}  // namespace tavrelo
