#include "launcher/dll_search_win.h"

#include <windows.h>

#include "launcher/function_address_win.h"

namespace tavrelo {

void RestrictDllSearchToSystem32() {
  // LOAD_LIBRARY_SEARCH_SYSTEM32, spelled out for headers that predate it.
  constexpr DWORD kSearchSystem32 = 0x00000800;
  // SetDefaultDllDirectories is looked up rather than imported, so that the
  // launcher still starts on systems without it; those still lose the
  // working folder from the search below.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto set_default = FunctionAddress<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"kernel32.dll"),
                                                                  "SetDefaultDllDirectories");
  if (set_default) set_default(kSearchSystem32);
  SetDllDirectoryW(L"");
}

}  // namespace tavrelo
