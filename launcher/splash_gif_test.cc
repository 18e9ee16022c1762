#include "launcher/splash_gif.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrelo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes bytes, const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
  return bytes;
}

Bytes Word(int value) { return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}; }

// A colour table of 2 << `size_bits` colours; colour i is (i, 2i, 3i).
Bytes Palette(int size_bits) {
  Bytes palette;
  for (int i = 0; i < 2 << size_bits; ++i) {
    palette = palette + Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(2 * i),
                              static_cast<std::uint8_t>(3 * i)};
  }
  return palette;
}

// The signature and a logical screen of `width` x `height` with a global
// table of 2 << `size_bits` colours.
Bytes Screen(int width, int height, int size_bits = 1, const char* signature = "GIF89a") {
  return Bytes(signature, signature + 6) + Word(width) + Word(height) +
         Bytes{static_cast<std::uint8_t>(0x80 | size_bits), 0, 0} + Palette(size_bits);
}

Bytes Descriptor(int width, int height, std::uint8_t flags = 0, int left = 0, int top = 0) {
  return Bytes{0x2C} + Word(left) + Word(top) + Word(width) + Word(height) + Bytes{flags};
}

// LZW codes packed least significant bit first, each as wide as a decoder
// reads it: one bit more than `min_code_size` after a clear code, one more
// each time the next code to define reaches a power of two, at most 12.
Bytes Pack(int min_code_size, const std::vector<int>& codes) {
  const int clear = 1 << min_code_size;
  int next = clear + 2;
  int width = min_code_size + 1;
  bool first = true;
  Bytes packed;
  std::uint32_t bits = 0;
  int count = 0;
  for (const int code : codes) {
    bits |= static_cast<std::uint32_t>(code) << count;
    for (count += width; count >= 8; count -= 8) {
      packed.push_back(static_cast<std::uint8_t>(bits));
      bits >>= 8;
    }
    if (code == clear) {
      next = clear + 2;
      width = min_code_size + 1;
      first = true;
    } else if (first) {
      first = false;
    } else if (next < 4096 && ++next == 1 << width && width < 12) {
      ++width;
    }
  }
  if (count > 0) packed.push_back(static_cast<std::uint8_t>(bits));
  return packed;
}

// The minimum code size and `data` in sub-blocks of at most `block` bytes,
// then the terminator.
Bytes ImageData(int min_code_size, const Bytes& data, std::size_t block = 255) {
  Bytes out = {static_cast<std::uint8_t>(min_code_size)};
  for (std::size_t at = 0; at < data.size(); at += block) {
    const std::size_t size = std::min(block, data.size() - at);
    out.push_back(static_cast<std::uint8_t>(size));
    out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + size));
  }
  out.push_back(0);
  return out;
}

const std::string kRejected = "no picture";
const Bytes kTrailer = {0x3B};
const Bytes kComment = {0x21, 0xFE, 3, '!', 'h', 'i', 0};
const Bytes kLoop = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
const Bytes kControl = {0x21, 0xF9, 4, 0, 10, 0, 0, 0};
const Bytes kText = {0x21, 0x01, 12, 0, 0, 0, 0, 2, 0, 2, 0, 1, 1, 0, 1, 2, 'h', 'i', 0};
// 2 x 2 pixels 0 1 / 2 3 in 4 colours, ended by the end code.
const Bytes kFour = ImageData(2, Pack(2, {4, 0, 1, 2, 3, 5}));
const Bytes kGif = Screen(2, 2) + Descriptor(2, 2) + kFour + kTrailer;

// `count` pixels of index 0, one code each, behind a clear code: more codes
// than the table holds.
std::vector<int> Zeros(int count) {
  std::vector<int> codes(static_cast<std::size_t>(count) + 2, 0);
  codes.front() = 4;
  codes.back() = 5;
  return codes;
}

TEST(SplashGifTest, DecodesOnlyAPictureWhoseOneImageFillsItExactly) {
  const std::string four = {0, 1, 2, 3};
  const struct {
    const char* what;
    Bytes gif;
    std::string pixels;  // row after row, without padding
  } rows[] = {
      {"four literals, the code widening after them", kGif, four},
      {"GIF87a", Screen(2, 2, 1, "GIF87a") + Descriptor(2, 2) + kFour + kTrailer, four},
      {"codes across sub-blocks of one byte", Screen(2, 2) + Descriptor(2, 2) +
           ImageData(2, Pack(2, {4, 0, 1, 2, 3, 5}), 1) + kTrailer, four},
      {"a code defined by its own use", Screen(3, 1) + Descriptor(3, 1) + ImageData(2, Pack(2, {4, 1, 6, 5})) +
           kTrailer, std::string(3, 1)},
      {"codes of the table", Screen(4, 1) + Descriptor(4, 1) + ImageData(2, Pack(2, {4, 1, 2, 6, 5})) + kTrailer,
       {1, 2, 1, 2}},
      {"a clear code narrows the codes again", Screen(2, 3) + Descriptor(2, 3) +
           ImageData(2, Pack(2, {4, 0, 1, 2, 3, 4, 3, 0, 5})) + kTrailer, {0, 1, 2, 3, 3, 0}},
      {"a full table takes no more codes", Screen(100, 50) + Descriptor(100, 50) + ImageData(2, Pack(2, Zeros(5000))) +
           kTrailer, std::string(5000, 0)},
      {"data after the end code", Screen(2, 2) + Descriptor(2, 2) +
           ImageData(2, Pack(2, {4, 0, 1, 2, 3, 5}) + Bytes(300, 0xAA)) + kTrailer, four},
      {"no end code", Screen(2, 2) + Descriptor(2, 2) + ImageData(2, Pack(2, {4, 0, 1, 2, 3})) + kTrailer, four},
      {"extensions passed over", Screen(2, 2) + kControl + kLoop + kComment + Descriptor(2, 2) + kFour + kText +
           kComment + kTrailer, four},
      {"a local palette", Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0} + Descriptor(2, 2, 0x81) +
           Palette(1) + kFour + kTrailer, four},
      {"no palette", Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0} + Descriptor(2, 2) + kFour + kTrailer,
       kRejected},
      {"another signature", Screen(2, 2, 1, "GIF88a") + Descriptor(2, 2) + kFour + kTrailer, kRejected},
      {"no width", Screen(0, 2) + Descriptor(0, 2) + ImageData(2, Pack(2, {4, 5})) + kTrailer, kRejected},
      {"no height", Screen(2, 0) + Descriptor(2, 0) + ImageData(2, Pack(2, {4, 5})) + kTrailer, kRejected},
      {"4096 wide", Screen(4096, 1) + Descriptor(4096, 1) + ImageData(2, Pack(2, Zeros(4096))) + kTrailer,
       std::string(4096, 0)},
      {"4097 wide", Screen(4097, 1) + Descriptor(4097, 1) + ImageData(2, Pack(2, Zeros(4097))) + kTrailer, kRejected},
      {"4097 high", Screen(1, 4097) + Descriptor(1, 4097) + ImageData(2, Pack(2, Zeros(4097))) + kTrailer, kRejected},
      {"a transparent colour", Screen(2, 2) + Bytes{0x21, 0xF9, 4, 1, 0, 0, 0, 0} + Descriptor(2, 2) + kFour +
           kTrailer, kRejected},
      {"interlaced", Screen(2, 2) + Descriptor(2, 2, 0x40) + kFour + kTrailer, kRejected},
      {"an image narrower than the screen", Screen(4, 1) + Descriptor(2, 1) + kFour + kTrailer, kRejected},
      {"an image lower than the screen", Screen(1, 4) + Descriptor(1, 2) + kFour + kTrailer, kRejected},
      {"an image right of the screen's corner", Screen(2, 2) + Descriptor(2, 2, 0, 1) + kFour + kTrailer, kRejected},
      {"an image below the screen's corner", Screen(2, 2) + Descriptor(2, 2, 0, 0, 1) + kFour + kTrailer, kRejected},
      {"two images", Screen(2, 2) + Descriptor(2, 2) + kFour + Descriptor(2, 2) + kFour + kTrailer, kRejected},
      {"minimum code size 1", Screen(2, 2) + Descriptor(2, 2) + ImageData(1, Pack(1, {2, 0, 1, 0, 1, 3})) +
           kTrailer, kRejected},
      {"minimum code size 9", Screen(2, 2, 7) + Descriptor(2, 2) + ImageData(9, Pack(9, {512, 0, 1, 2, 3, 513})) +
           kTrailer, kRejected},
      {"a code past the table", Screen(3, 1) + Descriptor(3, 1) + ImageData(2, Pack(2, {4, 1, 7, 5})) + kTrailer,
       kRejected},
      {"a table code first", Screen(2, 1) + Descriptor(2, 1) + ImageData(2, Pack(2, {4, 6, 5})) + kTrailer, kRejected},
      {"colour 2 of 2", Screen(1, 1, 0) + Descriptor(1, 1) + ImageData(2, Pack(2, {4, 2, 5})) + kTrailer, kRejected},
      {"a pixel too many", Screen(4, 1) + Descriptor(4, 1) + ImageData(2, Pack(2, {4, 0, 1, 2, 3, 0, 5})) + kTrailer,
       kRejected},
      {"a pixel too few", Screen(5, 1) + Descriptor(5, 1) + kFour + kTrailer, kRejected},
      {"a pixel too few, no end code", Screen(5, 1) + Descriptor(5, 1) + ImageData(2, Pack(2, {4, 0, 1, 2, 3})) +
           kTrailer, kRejected},
      {"an unknown block", Screen(2, 2) + Bytes{0x2D, 0xFE, 0} + Descriptor(2, 2) + kFour + kTrailer, kRejected},
      {"no image", Screen(2, 2) + kTrailer, kRejected},
  };
  for (const auto& row : rows) {
    const SplashDib dib = DecodeSplashGif(row.gif);
    std::string pixels = dib.packed.empty() ? kRejected : "";
    for (std::int32_t y = 0; y < dib.height && !dib.packed.empty(); ++y) {
      const std::size_t stride = (static_cast<std::size_t>(dib.width) + 3) / 4 * 4;
      const auto* start = dib.packed.data() + kSplashDibBitsOffset + static_cast<std::size_t>(y) * stride;
      pixels.append(start, start + dib.width);
    }
    EXPECT_EQ(pixels, row.pixels) << row.what;
  }
}

// Each part is a buffer of its own, so that a read past it is seen.
TEST(SplashGifTest, NoPartOfAPictureIsAPicture) {
  // A local palette that begins as a minimum code size would.
  const Bytes local = Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0} + Descriptor(2, 2, 0x81) +
                      Bytes{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13} + kFour + kTrailer;
  const Bytes extended = Screen(2, 2) + kControl + kLoop + Descriptor(2, 2) + kFour + kComment + kTrailer;
  for (const Bytes& gif : {kGif, local, extended}) {
    for (std::size_t size = 0; size < gif.size(); ++size) {
      const Bytes part(gif.begin(), gif.begin() + static_cast<long>(size));
      EXPECT_TRUE(DecodeSplashGif(part).packed.empty()) << size;
    }
    EXPECT_FALSE(DecodeSplashGif(gif).packed.empty());
  }
}

// The packed bitmap as GDI reads it: header, palette in blue-green-red order.
TEST(SplashGifTest, GivesATopDownBitmapOfTheFullPalette) {
  const SplashDib dib = DecodeSplashGif(kGif);
  ASSERT_EQ(dib.packed.size(), kSplashDibBitsOffset + 2 * 4);
  const Bytes header(dib.packed.begin(), dib.packed.begin() + 48);
  const Bytes expected = Bytes{40, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 8, 0} + Bytes(16, 0) +
                         Bytes{0, 1, 0, 0, 0, 0, 0, 0} + Bytes{0, 0, 0, 0, 3, 2, 1, 0};
  EXPECT_EQ(header, expected);
  EXPECT_EQ(Bytes(dib.packed.begin() + 40 + 4 * 3, dib.packed.begin() + 40 + 4 * 5), (Bytes{9, 6, 3, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace tavrelo
