// Any bytes as the bitmap, as is and with the image size to their end: nothing read or accepted outside them.
#include <vector>

#include "launcher/splash_dib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> resource(data, data + size);
  const std::size_t colours = size < 40 ? 0 : resource[32] | resource[33] << 8;
  const std::size_t start = 40 + 4 * (colours == 0 ? 256 : colours);  // where the pixels start
  for (int pass = 0; pass < 2; ++pass) {
    const auto dib = tavrelo::ParseSplashDib(resource);
    if (dib && (dib->bits_offset > size || dib->bits_size > size - dib->bits_offset)) __builtin_trap();
    for (int i = 0; i < 4 && size >= start; ++i) resource[20 + i] = std::uint8_t((size - start) >> (8 * i));
  }
  return 0;
}
