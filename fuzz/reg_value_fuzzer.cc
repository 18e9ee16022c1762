// Reads a value through the registry reader from a registry whose answers are
// all taken from the input: return codes, types, lengths (also lengths that
// exceed the buffer) and data, then turns the result into a runtime folder.
#include <cstring>

#include "common/failure.h"
#include "launcher/mod_main.h"
#include "registry/mregistry.h"
#include "tests/fakes/fake_registry.h"

namespace {

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t Next32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | NextByte();
    return value;
  }
  std::uint8_t NextByte() { return position_ < size_ ? data_[position_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrelo;
  testing::FakeRegistry registry;
  registry.AddKey("K");
  InputReader input(data, size);
  registry.ScriptQueries([&input](int, std::uint32_t* type, std::uint8_t* buffer,
                                  std::uint32_t* length) -> long {
    const std::uint32_t control = input.Next32();
    *type = input.NextByte() % 12;
    // Fill at most the room the reader said it has, then report any length.
    const std::uint32_t fill = std::min<std::uint32_t>(*length, input.Next32() % 4096);
    for (std::uint32_t i = 0; i < fill; ++i) buffer[i] = input.NextByte();
    *length = (control & 0x10) ? input.Next32() % 8192 : fill;
    switch (control & 3) {
      case 0: return 0;
      case 1: return 234;
      case 2: return 2;
      default: return static_cast<long>(control >> 8);
    }
  });
  const Outcome<RegValue> read = ReadRegValue(registry, kHkeyLocalMachine, u"K", u"JavaHome");
  if (read.ok()) {
    const RegValue& value = read.value();
    const std::u16string text = RegValueText(value);
    if (std::holds_alternative<RegBytes>(value) && text.size() != std::get<RegBytes>(value).size() / 2) {
      __builtin_trap();
    }
  }
  if (registry.open_handles() != 0) __builtin_trap();
  return 0;
}
