// Small pieces shared by the end-to-end helper programs: file handles,
// UTF-8 JSON output, the precise clock, environment variables and file writes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/win_handles.h"

namespace e2e {

// The launcher's handle owners serve the tools too. Files from CreateFileW
// are their own kind: they report failure as INVALID_HANDLE_VALUE.
using tavrelo::UniqueKernelHandle;
struct FileHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE file) { CloseHandle(file); }
};
using UniqueFile = tavrelo::UniqueHandle<HANDLE, FileHandleTraits>;

// System time in 100 ns units since 1601, the FILETIME scale.
inline std::uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline std::uint64_t PreciseNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return FileTimeValue(now);
}

// UTF-16 text as UTF-8. An unpaired surrogate, which UTF-8 cannot hold,
// becomes U+FFFD.
inline std::string Utf8(std::wstring_view text) {
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

// A JSON string literal (with the quotes) for UTF-16 text, in UTF-8: quotes,
// backslashes and control characters escaped.
inline std::string JsonString(std::wstring_view text) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring escaped = L"\"";
  for (const wchar_t unit : text) {
    if (unit == L'"' || unit == L'\\') {
      escaped += L'\\';
      escaped += unit;
    } else if (unit < 0x20) {
      escaped += L"\\u00";
      escaped += kHex[unit >> 4];
      escaped += kHex[unit & 0xF];
    } else {
      escaped += unit;
    }
  }
  return Utf8(escaped + L'"');
}

// Builds one JSON object member by member.
class JsonObject {
 public:
  JsonObject& Raw(std::string_view key, std::string_view json) {
    text_ += text_.empty() ? "{" : ",";
    text_ += '"';
    text_ += key;
    text_ += "\":";
    text_ += json;
    return *this;
  }
  JsonObject& Text(std::string_view key, std::wstring_view value) { return Raw(key, JsonString(value)); }
  JsonObject& Number(std::string_view key, std::int64_t value) { return Raw(key, std::to_string(value)); }
  JsonObject& Unsigned(std::string_view key, std::uint64_t value) { return Raw(key, std::to_string(value)); }
  JsonObject& Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
  std::string Finish() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

inline std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += items[i];
  }
  return out + "]";
}

// The value of an environment variable; empty when it is not set.
inline std::wstring EnvironmentValue(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

// Full path of a loaded module (nullptr: the program itself).
inline std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(32768, L'\0');  // the longest path Windows has
  path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

// Writes BYTES to PATH with one write: in place of what the file held or,
// with APPEND, on a handle opened for appending only, so that lines from
// processes writing at the same time never mix.
inline bool WriteToFile(const std::wstring& path, const std::string& bytes, bool append = false) {
  UniqueFile file(CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace e2e
