// Registry answers of any result, type, data and length: the read stays in its buffers and closes its key.
#include "registry/mregistry.h"
#include "tests/fakes/fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  const auto next = [&](int bytes) {  // big-endian
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | (at < size ? data[at++] : 0);
    return value;
  };
  tavrelo::testing::Fake registry;
  registry.AddKey("K");
  registry.query_script = [&](std::uint32_t* type, std::uint8_t* buffer, std::uint32_t* length) {
    const std::uint32_t control = next(4);
    *type = next(1) % 12;
    const std::uint32_t fill = next(4) % (*length + 1);  // within the room it was given
    for (std::uint32_t i = 0; i < fill; ++i) buffer[i] = static_cast<std::uint8_t>(next(1));
    *length = (control & 0x10) != 0 ? next(4) % 8192 : fill;  // also more than the room
    const long results[] = {0, 234, 2, static_cast<long>(control >> 8)};
    return results[control & 3];
  };
  (void)tavrelo::ReadRegValue(registry, tavrelo::kHkeyLocalMachine, u"K", u"JavaHome");
  if (registry.reg_log.back() != "close K") __builtin_trap();
  return 0;
}
