// Small pieces shared by the end-to-end helper programs: UTF-8 JSON output,
// the system clock, environment variables and file writes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "launcher/win_handles.h"

namespace e2e {

using tavrelo::UniqueKernelHandle;

inline std::uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// System time in 100 ns units since 1601, the clock of GetProcessTimes.
inline std::uint64_t PreciseNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return FileTimeValue(now);
}

// A JSON string literal for UTF-16 text, in UTF-8, with quotes, backslashes and control characters escaped.
inline std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (const wchar_t unit : text) {
    char bytes[8] = "";
    if (unit < 0x20 || unit == L'"' || unit == L'\\' || (unit >= 0xD800 && unit < 0xE000)) {  // surrogates too
      std::snprintf(bytes, sizeof bytes, "\\u%04x", static_cast<unsigned>(unit));
    } else {
      WideCharToMultiByte(CP_UTF8, 0, &unit, 1, bytes, sizeof bytes - 1, nullptr, nullptr);
    }
    out += bytes;
  }
  return out + "\"";
}

// One JSON object, built member by member.
class Json {
 public:
  Json& Raw(std::string_view key, std::string_view json) {
    ((text_ += text_.empty() ? "{\"" : ",\"") += key) += "\":";
    text_ += json;
    return *this;
  }
  Json& Text(std::string_view key, std::wstring_view value) { return Raw(key, JsonString(value)); }
  Json& Number(std::string_view key, long long value) { return Raw(key, std::to_string(value)); }
  Json& Unsigned(std::string_view key, std::uint64_t value) { return Raw(key, std::to_string(value)); }
  Json& Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

inline std::wstring EnvironmentValue(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
  return value;
}

// Full path of a loaded module (nullptr: the program itself).
inline std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

// Writes BYTES to PATH in one write: in place of what it held or, with
// APPEND, appended, so that lines of processes writing at once never mix.
inline bool WriteToFile(const std::wstring& path, const std::string& bytes, bool append = false) {
  const HANDLE opened = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                    0, nullptr);
  const UniqueKernelHandle file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
  DWORD written = 0;
  return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace e2e
