#include "registry/registry_api_win.h"

#include <windows.h>

#include <climits>

namespace tavrelo {
namespace {

HKEY AsHkey(RegHandle handle) { return reinterpret_cast<HKEY>(handle); }

int ClampToInt(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

// RegOpenKeyExA converts the path in a buffer of MAX_PATH characters, so a
// longer path (a deep key, or a subkey name of up to 255 characters under a
// long parent) fails with ERROR_MORE_DATA. Such a path is opened in steps,
// each shorter than that, through intermediate keys that are closed again.
constexpr std::size_t kMaxAnsiKeyPath = MAX_PATH - 1;

}  // namespace

long Win32RegistryApi::OpenKey(RegHandle root, const AnsiText& path, std::uint32_t access,
                               RegHandle* opened) {
  if (path.size() > kMaxAnsiKeyPath) {
    const std::size_t split = path.rfind('\\', kMaxAnsiKeyPath);
    if (split != AnsiText::npos && split > 0) {
      RegHandle parent = 0;
      const long result = OpenKey(root, path.substr(0, split), access, &parent);
      if (result != ERROR_SUCCESS) return result;
      const long child = OpenKey(parent, path.substr(split + 1), access, opened);
      CloseKey(parent);
      return child;
    }
  }
  HKEY key = nullptr;
  const LONG result = RegOpenKeyExA(AsHkey(root), path.c_str(), 0, access, &key);
  *opened = reinterpret_cast<RegHandle>(key);
  return result;
}

long Win32RegistryApi::EnumKey(RegHandle key, std::uint32_t index, char* buffer,
                               std::uint32_t size) {
  return RegEnumKeyA(AsHkey(key), index, buffer, size);
}

long Win32RegistryApi::QueryValue(RegHandle key, const AnsiText& name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* length) {
  DWORD value_type = *type;
  DWORD value_length = *length;
  const LONG result =
      RegQueryValueExA(AsHkey(key), name.c_str(), nullptr, &value_type, data, &value_length);
  *type = value_type;
  *length = value_length;
  return result;
}

void Win32RegistryApi::CloseKey(RegHandle key) { RegCloseKey(AsHkey(key)); }

AnsiText Win32RegistryApi::ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int units = ClampToInt(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  AnsiText ansi(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, units, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
}

std::u16string Win32RegistryApi::FromAnsi(AnsiView text) {
  if (text.empty()) return {};
  const int bytes = ClampToInt(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, reinterpret_cast<wchar_t*>(wide.data()),
                      units);
  return wide;
}

}  // namespace tavrelo
