// Prints the version block of an executable as the system reads it, one
// "name=value" line each: the fixed file and product versions and the
// strings of every translation the block lists.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void PrintLine(const wchar_t* name, const std::wstring& value) {
  // The values are ASCII here; anything else is printed as '?'.
  std::string narrow;
  for (wchar_t c : value) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  std::printf("%ls=%s\n", name, narrow.c_str());
}

std::wstring Quad(DWORD ms, DWORD ls) {
  return std::to_wstring(HIWORD(ms)) + L"." + std::to_wstring(LOWORD(ms)) + L"." +
         std::to_wstring(HIWORD(ls)) + L"." + std::to_wstring(LOWORD(ls));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: version_reader EXE\n");
    return 2;
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  if (size == 0) {
    std::fprintf(stderr, "no version block (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(argv[1], 0, size, block.data())) return 1;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
    PrintLine(L"FixedFileVersion", Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    PrintLine(L"FixedProductVersion", Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
  }
  struct Translation {
    WORD language;
    WORD code_page;
  }* translations = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length)) {
    return 1;
  }
  for (UINT i = 0; i < length / sizeof(Translation); ++i) {
    wchar_t table[16];
    swprintf(table, 16, L"%04X%04X", translations[i].language, translations[i].code_page);
    PrintLine(L"Translation", table);
    for (const wchar_t* name : {L"CompanyName", L"FileVersion", L"ProductName", L"ProductVersion",
                                L"OriginalFilename"}) {
      std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name;
      wchar_t* value = nullptr;
      UINT chars = 0;
      if (VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) &&
          value) {
        PrintLine(name, value);
      }
    }
  }
  return 0;
}
