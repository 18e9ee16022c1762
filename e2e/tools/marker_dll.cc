// A DLL that only tells that it was loaded: it appends a JSON line with its
// own path to the file named by TAVRELO_MARKER_FILE. Built under the names of
// system libraries and planted in a folder, it shows whether a program takes
// libraries from there instead of from the system.
#include "tool_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  const std::wstring marker_file = e2e::EnvironmentValue(L"TAVRELO_MARKER_FILE");
  if (reason == DLL_PROCESS_ATTACH && !marker_file.empty()) {
    e2e::WriteToFile(marker_file, e2e::Json().Text("module", e2e::ModuleFileName(instance)).Done() + "\n", true);
  }
  return TRUE;
}
