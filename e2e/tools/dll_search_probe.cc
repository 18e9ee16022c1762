// Restricts the DLL search the way the launcher does, then loads a DLL by its
// bare name and prints which file it got, so that a test can plant a DLL in
// the working folder and see whether the search still reaches it.
//   dll-search-probe.exe FOLDER NAME MODE
// FOLDER becomes the working folder. MODE is
//   none      no restriction: the control, in which a planted DLL loads
//   fallback  what the launcher does where SetDefaultDllDirectories is missing
//   full      what the launcher does, with the system's own lookup
// Prints one JSON object: whether the system has SetDefaultDllDirectories,
// the path of the loaded file (empty if none) and the load's error number.
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher/dll_search_win.h"
#include "tool_support.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::wstring mode = argv[3];
  if (!SetCurrentDirectoryW(argv[1])) return 3;
  if (mode == L"fallback") {
    tavrelo::RestrictDllSearch(nullptr);
  } else if (mode == L"full") {
    tavrelo::RestrictDllSearchToSystem32();
  } else if (mode != L"none") {
    return 2;
  }
  HMODULE module = LoadLibraryW(argv[2]);
  const DWORD error = module ? 0 : GetLastError();
  const std::string report =
      e2e::JsonObject()
          .Bool("set_default_dll_directories", tavrelo::LookUpSetDefaultDllDirectories() != nullptr)
          .Text("loaded", module ? e2e::ModuleFileName(module) : std::wstring())
          .Unsigned("error", error)
          .Finish();
  std::fputs((report + "\n").c_str(), stdout);
  return 0;
}
