// Small pieces shared by the end-to-end helper programs: file handles,
// UTF-8 JSON output, the precise clock and file appends.
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

// UTF-16 to UTF-8. A lone surrogate cannot be written as UTF-8; it becomes
// U+FFFD here, and JsonString below keeps it exactly as a \u escape instead.
inline void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

inline void AppendHexEscape(std::string& out, unsigned value) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

// A JSON string literal (with the quotes) for UTF-16 text: quotes,
// backslashes and control characters escaped, other characters as UTF-8,
// unpaired surrogates as \u escapes so that nothing is lost.
inline std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto unit = static_cast<char16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      const auto next = static_cast<char16_t>(text[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendHexEscape(out, unit);
      continue;
    }
    switch (unit) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      default:
        if (unit < 0x20 || unit == 0x7F) {
          AppendHexEscape(out, unit);
        } else {
          AppendUtf8(out, unit);
        }
    }
  }
  out += '"';
  return out;
}

// A plain ASCII text (names and messages of the tools themselves) as UTF-16.
inline std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

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
  JsonObject& Null(std::string_view key) { return Raw(key, "null"); }
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

// The value of an environment variable, or nothing when it is not set.
inline bool EnvironmentValue(const wchar_t* name, std::wstring& value) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();
      return true;
    }
    if (length < buffer.size()) {
      value.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);
  }
}

// Full path of a loaded module (nullptr: the program itself), however long.
inline std::wstring ModuleFileName(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size() || buffer.size() >= 0x8000) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// Appends bytes to a file with one write on a handle opened for appending
// only, so that lines from processes writing at the same time never mix.
inline bool AppendToFile(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// Replaces a file's contents: written to a neighbour first and moved over the
// target, so a reader never sees half a file.
inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".partial";
  {
    UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      return false;
    }
  }
  return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace e2e
