// Restricts the DLL search as the launcher does, then loads a DLL by bare name
// and prints the path it got (empty if none) and the load's error number:
//   dll-search-probe.exe FOLDER NAME none|fallback|full
// FOLDER becomes the working folder; "none" restricts nothing (the control),
// "fallback" does what the launcher does where SetDefaultDllDirectories is
// missing (Windows XP), "full" what it does with the system's own lookup.
#include <cstdio>

#include "launcher/dll_search_win.h"
#include "tool_support.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 || !SetCurrentDirectoryW(argv[1])) return 2;
  const std::wstring mode = argv[3];
  if (mode == L"fallback") tavrelo::RestrictDllSearch(nullptr);
  if (mode == L"full") tavrelo::RestrictDllSearchToSystem32();
  HMODULE module = LoadLibraryW(argv[2]);
  std::printf("%s\n", e2e::Json().Text("loaded", module ? e2e::ModuleFileName(module) : L"")
                          .Unsigned("error", module ? 0 : GetLastError())
                          .Bool("set_default_dll_directories", tavrelo::LookUpSetDefaultDllDirectories()).Done()
                          .c_str());
  return 0;
}
