// A DLL that only tells that it was loaded: on process attach it appends one
// JSON line with its own path to the file named by TAVRELO_MARKER_FILE.
// Built under the names of system libraries and planted in an application
// folder, it shows whether a program picks up libraries from its own folder
// instead of the system's.
#include <windows.h>

#include <string>

#include "tool_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DisableThreadLibraryCalls(instance);
  const std::wstring marker_file = e2e::EnvironmentValue(L"TAVRELO_MARKER_FILE");
  if (!marker_file.empty()) {
    e2e::WriteToFile(marker_file, e2e::JsonObject().Text("module", e2e::ModuleFileName(instance)).Finish() + "\n",
                     true);
  }
  // Loading still succeeds: a program that wrongly picks this library up
  // then fails to find the functions it wants, as with any foreign DLL.
  return TRUE;
}
