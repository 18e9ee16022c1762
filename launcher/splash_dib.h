// The splash picture as the executable stores it: a packed device-independent
// bitmap (info header, palette, pixels) with 8-bit palette indices, bottom row
// first, either compressed as BI_RLE8 or uncompressed (BI_RGB), whichever the
// build found smaller. The window draws it straight from the resource; this
// checks it first, so that a damaged resource leaves the splash with its plain
// background instead of handing bad data to the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tavrelo {

struct SplashDib {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t bits_offset = 0;  // where the pixels start
  std::size_t bits_size = 0;    // their length: the header's for RLE8, the rows' for BI_RGB
};

// Reads and checks `resource`: a 40-byte info header for a bottom-up 8-bit
// bitmap of at most 4096 x 4096 pixels, a palette of at most 256 colours, and
// pixels that lie within both the header's image size and the resource, every
// one an index into the palette.
// BI_RLE8: the codes must cover every row in full, each row ending with
// end-of-line (the last may end with end-of-bitmap instead), then
// end-of-bitmap; no delta jumps, which would leave pixels undrawn.
// BI_RGB: rows of one byte per pixel, each padded to a multiple of 4 bytes; an
// image size of 0 stands for the rows' size.
// Empty when any of that does not hold.
std::optional<SplashDib> ParseSplashDib(std::span<const std::uint8_t> resource);

}  // namespace tavrelo
