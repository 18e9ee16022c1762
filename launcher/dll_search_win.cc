#include "launcher/dll_search_win.h"

#include <windows.h>

namespace tavrelo {

void RestrictDllSearchToSystem32() {
  // LOAD_LIBRARY_SEARCH_SYSTEM32, spelled out for headers that predate it.
  constexpr DWORD kSearchSystem32 = 0x00000800;
  // SetDefaultDllDirectories is looked up rather than imported, so that the
  // launcher still starts on systems without it; those still lose the
  // working folder from the search below.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32) {
    auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (set_default) set_default(kSearchSystem32);
  }
  SetDllDirectoryW(L"");
}

}  // namespace tavrelo
