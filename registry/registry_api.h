// The four ANSI registry functions the reader uses, and the conversion between
// the program's UTF-16 text and the system's ANSI code page. An abstract
// interface so it can be mocked out for tests; registry_api_win.cc is the real
// implementation over advapi32.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrelo {

// Text in the system's ANSI code page. Its own traits make it a type apart
// from std::string, so the launcher compiles in only the few members it uses
// instead of linking the C++ library's whole prebuilt std::string.
struct AnsiTraits : std::char_traits<char> {};
using AnsiText = std::basic_string<char, AnsiTraits>;
using AnsiView = std::basic_string_view<char, AnsiTraits>;

// A registry key handle: a predefined root or a key opened by OpenKey.
using RegHandle = std::uintptr_t;

// HKEY_LOCAL_MACHINE: the 32-bit constant 0x80000002, sign-extended to the
// width of a handle as the platform headers define it.
inline constexpr RegHandle kHkeyLocalMachine =
    static_cast<RegHandle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

inline constexpr std::uint32_t kKeyRead = 0x20019;         // KEY_READ, no view flag
inline constexpr long kRegSuccess = 0;                      // ERROR_SUCCESS
inline constexpr long kRegMoreData = 234;                   // ERROR_MORE_DATA

class RegistryApi {
 public:
  virtual ~RegistryApi() = default;

  // RegOpenKeyExA(root, path, 0, access, out).
  virtual long OpenKey(RegHandle root, const AnsiText& path, std::uint32_t access,
                       RegHandle* opened) = 0;
  // RegEnumKeyA(key, index, buffer, size).
  virtual long EnumKey(RegHandle key, std::uint32_t index, char* buffer, std::uint32_t size) = 0;
  // RegQueryValueExA(key, name, nullptr, type, data, length).
  virtual long QueryValue(RegHandle key, const AnsiText& name, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* length) = 0;
  // RegCloseKey(key); its result is of no interest.
  virtual void CloseKey(RegHandle key) = 0;

  // UTF-16 to the ANSI code page and back, for names and text data.
  virtual AnsiText ToAnsi(std::u16string_view text) = 0;
  virtual std::u16string FromAnsi(AnsiView text) = 0;
};

}  // namespace tavrelo
