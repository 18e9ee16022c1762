#include "launcher/splash_dib.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace tavrelo {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;

// A packed bitmap as the resource holds it: info header, a grey palette of
// `colours` entries and the given pixels (RLE8 codes unless told otherwise).
Bytes MakeDib(std::int32_t width, std::int32_t height, std::uint32_t colours, const Bytes& bits,
              std::uint32_t compression = kRle8) {
  Bytes dib(40);
  PutU32(dib, 0, 40);
  PutU32(dib, 4, static_cast<std::uint32_t>(width));
  PutU32(dib, 8, static_cast<std::uint32_t>(height));
  dib[12] = 1;  // planes
  dib[14] = 8;  // bits per pixel
  PutU32(dib, 16, compression);
  PutU32(dib, 20, static_cast<std::uint32_t>(bits.size()));
  PutU32(dib, 32, colours);
  for (std::uint32_t i = 0; i < (colours ? colours : 256); ++i) {
    const auto grey = static_cast<std::uint8_t>(i);
    dib.insert(dib.end(), {grey, grey, grey, 0});
  }
  dib.insert(dib.end(), bits.begin(), bits.end());
  return dib;
}

// 4 x 2 pixels: a run and a literal stretch, each row closed properly.
const Bytes kGoodBits = {4, 1, 0, 0,              // row 0: four of index 1, end of line
                         0, 3, 0, 1, 2, 0, 1, 3,  // row 1: three literals (padded), one run
                         0, 0, 0, 1};             // end of line, end of bitmap

bool Parses(const Bytes& dib) { return ParseSplashDib(dib).has_value(); }

TEST(SplashDibTest, AcceptsAWellFormedBitmap) {
  const Bytes dib = MakeDib(4, 2, 4, kGoodBits);
  const auto parsed = ParseSplashDib(dib);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->width, 4);
  EXPECT_EQ(parsed->height, 2);
  EXPECT_EQ(parsed->bits_offset, 40u + 4 * 4);
  EXPECT_EQ(parsed->bits_size, kGoodBits.size());
  // The last row may also end with end-of-bitmap alone, and a palette size of
  // 0 stands for 256 colours.
  EXPECT_TRUE(Parses(MakeDib(4, 2, 4, {4, 1, 0, 0, 4, 2, 0, 1})));
  EXPECT_TRUE(Parses(MakeDib(4, 2, 0, {4, 200, 0, 0, 4, 255, 0, 1})));
}

TEST(SplashDibTest, RejectsEveryTruncation) {
  const Bytes dib = MakeDib(4, 2, 4, kGoodBits);
  for (std::size_t size = 0; size < dib.size(); ++size) {
    Bytes cut(dib.begin(), dib.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(Parses(cut)) << size;
    // Also when the header's image size agrees with what is left: the codes
    // themselves then end too early.
    const std::size_t bits_start = 40 + 4 * 4;
    if (size > bits_start) {
      PutU32(cut, 20, static_cast<std::uint32_t>(size - bits_start));
      EXPECT_FALSE(Parses(cut)) << size;
    }
  }
}

TEST(SplashDibTest, RejectsHeadersOtherThanABottomUp8BitBitmap) {
  struct Patch {
    std::size_t at;
    std::uint32_t value;
    const char* what;
  };
  for (const Patch& patch : {Patch{0, 12, "core header"}, Patch{4, 0, "no width"},
                             Patch{4, 4097, "too wide"}, Patch{8, 0xFFFFFFFE, "top-down"},
                             Patch{8, 4097, "too high"}, Patch{12, 2, "two planes"},
                             Patch{14, 4, "4 bits per pixel"}, Patch{16, 2, "RLE4"},
                             Patch{16, 3, "bit fields"}, Patch{20, 0, "no image size"},
                             Patch{32, 257, "too many colours"}, Patch{32, 0x40000000, "huge palette"}}) {
    Bytes dib = MakeDib(4, 2, 4, kGoodBits);
    if (patch.at == 12 || patch.at == 14) {
      dib[patch.at] = static_cast<std::uint8_t>(patch.value);
    } else {
      PutU32(dib, patch.at, patch.value);
    }
    EXPECT_FALSE(Parses(dib)) << patch.what;
  }
}

TEST(SplashDibTest, RejectsPixelsThatDoNotCoverThePictureExactly) {
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"run past the row's end", {5, 1, 0, 0, 4, 1, 0, 1}},
      {"row ended short", {3, 1, 0, 0, 4, 1, 0, 1}},
      {"literals past the row's end", {0, 5, 1, 1, 1, 1, 1, 0, 0, 0, 4, 1, 0, 1}},
      {"a third row", {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1}},
      {"only one row", {4, 1, 0, 0, 0, 1}},
      {"no end of bitmap", {4, 1, 0, 0, 4, 1, 0, 0}},
      {"delta jump", {4, 1, 0, 0, 0, 2, 4, 0, 0, 1}},
      {"run index outside the palette", {4, 4, 0, 0, 4, 1, 0, 1}},
      {"literal index outside the palette", {4, 1, 0, 0, 0, 4, 1, 2, 3, 4, 0, 1}},
      {"literals beyond the data", {4, 1, 0, 0, 0, 4, 1, 2}},
      {"odd byte at the end", {4, 1, 0, 0, 4, 1, 0}},
  };
  for (const auto& [what, bits] : cases) EXPECT_FALSE(Parses(MakeDib(4, 2, 4, bits))) << what;
}

// 3 x 2 pixels, uncompressed: rows padded to 4 bytes; padding is no pixel, so
// any value goes there.
const Bytes kGoodRows = {1, 2, 3, 0xFF,
                         3, 2, 1, 0};

TEST(SplashDibTest, AcceptsAnUncompressedBitmap) {
  const auto parsed = ParseSplashDib(MakeDib(3, 2, 4, kGoodRows, kRgb));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->width, 3);
  EXPECT_EQ(parsed->bits_offset, 40u + 4 * 4);
  EXPECT_EQ(parsed->bits_size, 8u);
  // An image size of 0 stands for the rows' size, and a larger one is fine.
  Bytes dib = MakeDib(3, 2, 4, kGoodRows, kRgb);
  PutU32(dib, 20, 0);
  EXPECT_EQ(ParseSplashDib(dib)->bits_size, 8u);
  PutU32(dib, 20, 12);
  EXPECT_EQ(ParseSplashDib(dib)->bits_size, 8u);
}

TEST(SplashDibTest, RejectsUncompressedRowsThatDoNotFitOrLeaveThePalette) {
  const Bytes dib = MakeDib(3, 2, 4, kGoodRows, kRgb);
  for (std::size_t size = 0; size < dib.size(); ++size) {
    Bytes cut(dib.begin(), dib.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(Parses(cut)) << size;
    if (size > 20 + 4) {
      PutU32(cut, 20, 0);  // no image size given: the rows' size still counts
      EXPECT_FALSE(Parses(cut)) << size;
    }
  }
  Bytes small_size = dib;
  PutU32(small_size, 20, 7);  // the header promises less than the rows hold
  EXPECT_FALSE(Parses(small_size));
  for (const std::size_t at : {0u, 2u, 4u, 6u}) {
    Bytes outside = kGoodRows;
    outside[at] = 4;
    EXPECT_FALSE(Parses(MakeDib(3, 2, 4, outside, kRgb))) << at;
  }
  EXPECT_FALSE(Parses(MakeDib(3, 2, 4, kGoodRows, 2)));  // RLE4
}

// The bitmap the build makes from the splash artwork, as the executable
// carries it (the file without its 14-byte file header).
TEST(SplashDibTest, AcceptsTheBuiltSplashPicture) {
  std::ifstream file(TAVRELO_SPLASH_BMP, std::ios::binary);
  ASSERT_TRUE(file) << TAVRELO_SPLASH_BMP;
  Bytes bmp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(bmp.size(), 14u);
  const Bytes dib(bmp.begin() + 14, bmp.end());
  const auto parsed = ParseSplashDib(dib);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->width, 490);
  EXPECT_EQ(parsed->height, 517);
  EXPECT_EQ(parsed->bits_offset + parsed->bits_size, dib.size());
  // The palette's last entry, stored blue, green, red, is the window colour.
  EXPECT_EQ(Bytes(dib.begin() + 40 + 255 * 4, dib.begin() + 40 + 256 * 4), (Bytes{0xFF, 0xC0, 0xC0, 0}));
  for (std::size_t size : {dib.size() - 1, dib.size() - 2, dib.size() / 2, std::size_t{1000}}) {
    EXPECT_FALSE(Parses(Bytes(dib.begin(), dib.begin() + static_cast<std::ptrdiff_t>(size)))) << size;
  }
}

}  // namespace
}  // namespace tavrelo
