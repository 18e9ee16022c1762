// Any bytes as the splash bitmap resource: the check never reads outside
// them, and what it accepts lies within them.
#include "launcher/splash_dib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto dib = tavrelo::ParseSplashDib(std::span(data, size));
  if (dib && (dib->bits_offset > size || dib->bits_size > size - dib->bits_offset || dib->width <= 0 ||
              dib->height <= 0)) {
    __builtin_trap();
  }
  return 0;
}
