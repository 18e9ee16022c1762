// Any bytes as the splash GIF: nothing read outside them, nothing written
// outside the bitmap, and a bitmap only of the size its header gives.
#include "launcher/splash_gif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tavrelo::SplashDib dib = tavrelo::DecodeSplashGif(std::span(data, size));
  if (dib.packed.empty()) return 0;
  const std::size_t stride = (static_cast<std::size_t>(dib.width) + 3) / 4 * 4;
  if (dib.width < 1 || dib.width > 4096 || dib.height < 1 || dib.height > 4096 ||
      dib.packed.size() != tavrelo::kSplashDibBitsOffset + stride * static_cast<std::size_t>(dib.height)) {
    __builtin_trap();
  }
  return 0;
}
