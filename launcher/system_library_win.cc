#include "launcher/system_library_win.h"

#include <string>

namespace tavrelo {
namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, spelled out for headers that predate it.
constexpr DWORD kSearchSystem32 = 0x00000800;

}  // namespace

void RestrictDllSearchToSystem32() {
  // SetDefaultDllDirectories is looked up rather than imported, so that the
  // launcher still starts on systems without it; those fall back to removing
  // the working folder from the search and to full System32 paths below.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32) {
    auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (set_default) set_default(kSearchSystem32);
  }
  SetDllDirectoryW(L"");
}

UniqueModule LoadSystemLibrary(const wchar_t* name) {
  if (HMODULE module = LoadLibraryExW(name, nullptr, kSearchSystem32)) return UniqueModule(module);
  // Systems that do not know the flag: name the file in System32 in full.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return UniqueModule();
  std::wstring path(folder, length);
  path += L'\\';
  path += name;
  return UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace tavrelo
