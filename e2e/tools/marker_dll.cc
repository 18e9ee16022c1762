// A DLL that only tells that it was loaded: on process attach it appends one
// JSON line (its own path, the program that loaded it, that program's pid) to
// the file named by TAVRELO_MARKER_FILE. Built under the names of system
// libraries and planted in an application folder, it shows whether a program
// picks up libraries from its own folder instead of the system's.
#include <windows.h>

#include <string>

#include "tool_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DisableThreadLibraryCalls(instance);
  std::wstring marker_file;
  if (!e2e::EnvironmentValue(L"TAVRELO_MARKER_FILE", marker_file) || marker_file.empty()) return TRUE;
  e2e::JsonObject line;
  line.Text("module", e2e::ModuleFileName(instance))
      .Text("process", e2e::ModuleFileName(nullptr))
      .Unsigned("pid", GetCurrentProcessId())
      .Unsigned("time", e2e::PreciseNow());
  e2e::AppendToFile(marker_file, line.Finish() + "\n");
  // Loading still succeeds: a program that wrongly picks this library up
  // then fails to find the functions it wants, as with any foreign DLL.
  return TRUE;
}
