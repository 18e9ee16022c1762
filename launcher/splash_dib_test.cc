#include "launcher/splash_dib.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace tavrelo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Put(Bytes bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + long(size)); }

// A packed bitmap: the 40-byte header of a bottom-up bitmap of 1 plane and 8 bits per pixel,
// `colours` palette entries (256 for 0) and the pixels.
Bytes Dib(std::uint32_t width, std::uint32_t height, const Bytes& bits, std::uint32_t compression = 1,
          std::uint32_t colours = 4) {
  const std::uint32_t fields[][2] = {{0, 40},           {4, width},
                                     {8, height},       {12, 1 | 8 << 16},
                                     {16, compression}, {20, static_cast<std::uint32_t>(bits.size())},
                                     {32, colours}};
  Bytes dib(40 + 4 * (colours == 0 ? 256 : colours));
  for (const auto& [at, value] : fields) dib = Put(dib, at, value);
  dib.insert(dib.end(), bits.begin(), bits.end());
  return dib;
}

// 4 x 2 pixels: a run; three literals (padded to an even length) and a run.
const Bytes kRle = {4, 1, 0, 0, 0, 3, 0, 1, 2, 0, 1, 3, 0, 0, 0, 1};
// 3 x 2 pixels, uncompressed, rows padded to 4 bytes with any value.
const Bytes kRgb = {1, 2, 3, 0xFF, 3, 2, 1, 0};

TEST(SplashDibTest, AcceptsOnlyBitmapsThatCoverEveryPixelWithinTheirData) {
  const struct {
    const char* what;
    Bytes dib;
    std::size_t bits_size;  // 0: rejected
  } rows[] = {
      {"runs and literals", Dib(4, 2, kRle), 16},
      {"last row ended by end-of-bitmap", Dib(4, 2, {4, 1, 0, 0, 4, 2, 0, 1}), 8},
      {"palette size 0: 256 colours", Dib(4, 2, {4, 255, 0, 0, 4, 255, 0, 1}, 1, 0), 8},
      {"4096 x 4096", Dib(4096, 4096, Bytes(4096 * 4096), 0), 4096 * 4096},
      {"uncompressed", Dib(3, 2, kRgb, 0), 8},
      {"uncompressed, image size 0", Put(Dib(3, 2, kRgb, 0), 20, 0), 8},
      {"shorter than a header", Cut(Dib(4, 2, kRle), 20), 0},
      {"other header", Put(Dib(4, 2, kRle), 0, 12), 0},
      {"no width", Dib(0, 2, {0, 0, 0, 0, 0, 1}), 0},
      {"4097 wide", Dib(4097, 1, Bytes(4100), 0), 0},
      {"no height", Dib(4, 0, {0, 1}), 0},
      {"4097 high", Dib(1, 4097, Bytes(4 * 4097), 0), 0},
      {"two planes", Put(Dib(4, 2, kRle), 12, 2 | 8 << 16), 0},
      {"4 bits per pixel", Put(Dib(4, 2, kRle), 12, 1 | 4 << 16), 0},
      {"RLE4", Dib(4, 2, kRle, 2), 0},
      {"257 colours", Dib(4, 2, kRle, 1, 257), 0},
      {"cut in the palette", Cut(Dib(4, 2, kRle), 50), 0},
      {"image size beyond the data", Put(Dib(4, 2, kRle), 20, 17), 0},
      {"row ended short", Dib(4, 2, {3, 1, 0, 0, 4, 1, 0, 1}), 0},
      {"end of bitmap too early", Dib(4, 2, {4, 1, 0, 0, 0, 1}), 0},
      {"no end of bitmap", Dib(4, 2, {4, 1, 0, 0, 4, 1, 0, 0}), 0},
      {"odd byte at the end", Dib(4, 2, {4, 1, 0, 0, 4, 1, 0}), 0},
      {"delta", Dib(4, 2, {4, 1, 0, 0, 0, 2, 1, 1, 2, 1, 0, 1}), 0},
      {"run of an index outside the palette", Dib(4, 2, {4, 4, 0, 0, 4, 1, 0, 1}), 0},
      {"literal outside the palette", Dib(4, 2, {4, 1, 0, 0, 0, 4, 1, 2, 3, 4, 0, 1}), 0},
      {"literals beyond the data", Dib(4, 2, {4, 1, 0, 0, 0, 4, 1, 2}), 0},
      {"uncompressed, image size below the rows'", Put(Dib(3, 2, kRgb, 0), 20, 7), 0},
      {"uncompressed, rows cut", Cut(Put(Dib(3, 2, kRgb, 0), 20, 0), 40 + 16 + 7), 0},
      {"uncompressed, index outside the palette", Dib(3, 2, {1, 2, 3, 0, 3, 4, 1, 0}, 0), 0},
  };
  for (const auto& row : rows) {
    const std::optional<SplashDib> parsed = ParseSplashDib(Bytes(row.dib));  // no room beyond the data
    EXPECT_EQ(parsed ? parsed->bits_size : 0, row.bits_size) << row.what;
    EXPECT_EQ(parsed ? parsed->bits_offset + parsed->bits_size : 0, parsed ? row.dib.size() : 0) << row.what;
  }
}

// The bitmap the build makes from the splash picture, as the executable
// carries it: the file without its 14-byte file header.
TEST(SplashDibTest, AcceptsTheBuiltSplashPicture) {
  std::ifstream file(TAVRELO_SPLASH_BMP, std::ios::binary);
  const Bytes bmp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(bmp.size(), 14u) << TAVRELO_SPLASH_BMP;
  const std::optional<SplashDib> parsed = ParseSplashDib(std::span(bmp).subspan(14));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->width, 490);
  EXPECT_EQ(parsed->height, 517);
  EXPECT_EQ(parsed->bits_offset + parsed->bits_size, bmp.size() - 14);
}

}  // namespace
}  // namespace tavrelo
