#include "registry/reg_value.h"

#include <string_view>


namespace tavrelo {
namespace {

std::span<const std::uint8_t> DropTrailingNuls(std::span<const std::uint8_t> data, int most) {
  for (int dropped = 0; dropped < most && !data.empty() && data.back() == 0; ++dropped) {
    data = data.first(data.size() - 1);
  }
  return data;
}

std::u16string DecodeAnsi(std::span<const std::uint8_t> data, RegistryApi& ansi) {
  if (data.empty()) return {};
  return ansi.FromAnsi(
      AnsiView(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace

Outcome<RegValue> ConvertRegData(std::uint32_t type, std::span<const std::uint8_t> data, RegistryApi& ansi) {
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      return RegValue(DecodeAnsi(DropTrailingNuls(data, 1), ansi));
    case kRegMultiSz:
      return RegValue(DecodeAnsi(DropTrailingNuls(data, 2), ansi));
    case kRegBinary:
      return RegValue(RegBytes(data.begin(), data.end()));
    case kRegDword: {
      std::uint32_t bits = 0;
      for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
        bits |= static_cast<std::uint32_t>(data[i]) << (8 * i);
      }
      return RegValue(static_cast<std::int32_t>(bits));
    }
    default:
      return Failure(kErrorUnsupportedValueType, u"Unsupported value type");
  }
}

}  // namespace tavrelo
