#include "registry/reg_value.h"

#include <string_view>

#include "common/failure.h"

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
      std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace

RegValue ConvertRegData(std::uint32_t type, std::span<const std::uint8_t> data, RegistryApi& ansi) {
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      return DecodeAnsi(DropTrailingNuls(data, 1), ansi);
    case kRegMultiSz:
      return DecodeAnsi(DropTrailingNuls(data, 2), ansi);
    case kRegBinary:
      return RegBytes(data.begin(), data.end());
    case kRegDword: {
      std::uint32_t bits = 0;
      for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
        bits |= static_cast<std::uint32_t>(data[i]) << (8 * i);
      }
      return static_cast<std::int32_t>(bits);
    }
    default:
      throw Failure(kErrorUnsupportedValueType, u"Unsupported value type");
  }
}

}  // namespace tavrelo
