#include "launcher/dll_search_win.h"

#include "launcher/function_address_win.h"

namespace tavrelo {

SetDefaultDllDirectoriesFn LookUpSetDefaultDllDirectories() {
  // Looked up rather than imported, so that the launcher still starts on
  // systems without it.
  return FunctionAddress<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"kernel32.dll"),
                                                     "SetDefaultDllDirectories");
}

void RestrictDllSearch(SetDefaultDllDirectoriesFn set_default) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32, spelled out for headers that predate it.
  constexpr DWORD kSearchSystem32 = 0x00000800;
  if (set_default) set_default(kSearchSystem32);
  // A DLL folder of the process's own replaces the working folder in the
  // search, on systems without SetDefaultDllDirectories too. It names
  // System32, which is searched anyway. An empty name would take the working
  // folder out as well on Windows, but Wine keeps searching it then.
  wchar_t system32[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system32, MAX_PATH);
  SetDllDirectoryW(length > 0 && length < MAX_PATH ? system32 : L"");
}

void RestrictDllSearchToSystem32() { RestrictDllSearch(LookUpSetDefaultDllDirectories()); }

}  // namespace tavrelo
