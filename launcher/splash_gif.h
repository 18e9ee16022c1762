// The splash picture as the executable carries it: a GIF (87a or 89a) of one
// image, decoded here into the 8-bit device-independent bitmap that GDI
// draws. A picture that does not decode whole gives no bitmap, so that a
// damaged resource leaves the splash with its plain background instead of
// half a picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavrelo {

// Where a SplashDib's pixels start: after its 40-byte BITMAPINFOHEADER and a
// palette of 256 RGBQUADs.
inline constexpr std::size_t kSplashDibBitsOffset = 40 + 256 * 4;

struct SplashDib {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The packed bitmap: header of a top-down, uncompressed 8-bit picture,
  // palette, and rows padded to a multiple of 4 bytes. Empty: no picture.
  std::vector<std::uint8_t> packed;
};

// Decodes `gif`: a logical screen of at most 4096 x 4096 pixels covered by one
// image that is not interlaced and has no transparent colour, with a global or
// local palette and LZW data whose every code lies within its table and whose
// pixels fill the image exactly; extensions are passed over (text among them:
// the launcher draws the picture alone); the trailer ends it. Never reads outside `gif` nor writes outside the
// result's buffer; an empty result when any of that does not hold.
SplashDib DecodeSplashGif(std::span<const std::uint8_t> gif);

}  // namespace tavrelo
