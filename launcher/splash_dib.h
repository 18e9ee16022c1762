// The splash picture as the executable stores it: a packed device-independent
// bitmap (info header, palette, pixels) with 8-bit palette indices compressed
// as BI_RLE8, bottom row first. The window draws it straight from the
// resource; this checks it first, so that a damaged resource leaves the
// splash with its plain background instead of handing bad data to the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tavrelo {

struct SplashDib {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t bits_offset = 0;  // where the compressed pixels start
  std::size_t bits_size = 0;    // their length, as the header gives it
};

// Reads and checks `resource`: a 40-byte info header for a bottom-up 8-bit
// BI_RLE8 bitmap of at most 4096 x 4096 pixels, a palette of at most 256
// colours, and compressed pixels that lie within both the header's image size
// and the resource. The pixels must cover every row in full with indices into
// the palette, each row ending with end-of-line (the last may end with
// end-of-bitmap instead), then end-of-bitmap; no delta jumps, which would
// leave pixels undrawn. Empty when any of that does not hold.
std::optional<SplashDib> ParseSplashDib(std::span<const std::uint8_t> resource);

}  // namespace tavrelo
