// RegValue: the typed content of one registry value, and the conversion of a
// value's raw data by its registry type.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "common/failure.h"
#include "registry/registry_api.h"

namespace tavrelo {

using RegBytes = std::vector<std::uint8_t>;

// Empty, text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ with NUL separators kept),
// a signed 32-bit integer (REG_DWORD) or a byte sequence (REG_BINARY). A
// caller's default is simply a RegValue of whichever kind the caller chose.
using RegValue = std::variant<std::monostate, std::u16string, std::int32_t, RegBytes>;

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Converts `data` (exactly the value's bytes as far as they are known) of
// registry type `type`. Text is decoded from the ANSI code page by `ansi`.
// One terminating NUL of REG_SZ/REG_EXPAND_SZ and up to two of REG_MULTI_SZ
// are dropped when present; NULs inside the data stay. REG_DWORD takes up to
// the first four bytes, little-endian, zero-extended. Any other type fails
// with 1001 "Unsupported value type".
Outcome<RegValue> ConvertRegData(std::uint32_t type, std::span<const std::uint8_t> data, RegistryApi& ansi);

}  // namespace tavrelo
