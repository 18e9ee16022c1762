// Stand-in for a Java runtime's java.exe (GUI subsystem, so no console changes the show state): appends
// one JSON line telling how it was started to the file TAVRELO_JAVA_RECORD names. It loads the libraries
// TAVRELO_JAVA_LOAD_LIBRARY names (';' between them) by bare name, as a careless program would, after
// TAVRELO_JAVA_RESTRICT ("fallback", as where XP lacks SetDefaultDllDirectories, or "full") has restricted
// the DLL search as the launcher does, and records the file each load got ("" for none).
#include <sstream>

#include "launcher/dll_search_win.h"
#include "tool_support.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  FILETIME created = {}, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  std::wstring folder(MAX_PATH, L'\0');
  folder.resize(GetCurrentDirectoryW(MAX_PATH, folder.data()));
  const std::wstring restrict = e2e::EnvironmentValue(L"TAVRELO_JAVA_RESTRICT");
  if (restrict == L"fallback") tavrelo::RestrictDllSearch(nullptr);
  if (restrict == L"full") tavrelo::RestrictDllSearchToSystem32();
  std::string loaded = "[";
  std::wistringstream libraries(e2e::EnvironmentValue(L"TAVRELO_JAVA_LOAD_LIBRARY"));
  for (std::wstring library; std::getline(libraries, library, L';');) {
    HMODULE module = LoadLibraryW(library.c_str());
    if (loaded.size() > 1) loaded += ',';
    loaded += e2e::JsonString(module ? e2e::ModuleFileName(module) : L"");
  }
  loaded += ']';
  const std::string record = e2e::Json().Text("command_line", GetCommandLineW()).Text("current_directory", folder)
      .Unsigned("startup_flags", startup.dwFlags).Unsigned("show_window", startup.wShowWindow)
      .Text("exe_path", e2e::ModuleFileName(nullptr)).Unsigned("start_time", e2e::FileTimeValue(created))
      .Raw("loaded", loaded).Done();
  const std::wstring record_file = e2e::EnvironmentValue(L"TAVRELO_JAVA_RECORD");
  return !record_file.empty() && !e2e::WriteToFile(record_file, record + "\n", true);
}
