// Stand-in for a Java runtime's java.exe: appends one JSON line to the file
// named by TAVRELO_JAVA_RECORD telling how it was started: command line,
// working folder, the show state its parent passed, its own path, and its
// creation time as the system recorded it. GUI subsystem, so no console
// changes the show state. TAVRELO_JAVA_LOAD_LIBRARY names libraries (';'
// between them) that it loads by bare name, as a careless program would: the
// control that shows marker DLLs planted next to it are found.
#include <windows.h>

#include <sstream>

#include "tool_support.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  FILETIME created = {}, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  std::wstring folder(MAX_PATH, L'\0');
  folder.resize(GetCurrentDirectoryW(MAX_PATH, folder.data()));
  const std::wstring record_file = e2e::EnvironmentValue(L"TAVRELO_JAVA_RECORD");
  const std::string record = e2e::Json().Text("command_line", GetCommandLineW()).Text("current_directory", folder)
      .Unsigned("startup_flags", startup.dwFlags).Unsigned("show_window", startup.wShowWindow)
      .Text("exe_path", e2e::ModuleFileName(nullptr)).Unsigned("start_time", e2e::FileTimeValue(created)).Done();
  if (!record_file.empty() && !e2e::WriteToFile(record_file, record + "\n", true)) return 1;
  std::wistringstream libraries(e2e::EnvironmentValue(L"TAVRELO_JAVA_LOAD_LIBRARY"));
  for (std::wstring library; std::getline(libraries, library, L';');) LoadLibraryW(library.c_str());
  return 0;
}
