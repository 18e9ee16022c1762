// Stand-in for the Java runtime's java.exe. It records how and when it was
// started (one JSON object per line, appended to the file named by
// TAVRELO_JAVA_RECORD).
// GUI subsystem: no console is created, so the show state the parent passed
// in STARTUPINFO is exactly what the record reports.
// TAVRELO_JAVA_LOAD_LIBRARY names libraries (separated by ';') to load by
// their bare names, the way a careless program would: with marker DLLs
// planted next to this program that shows each planted DLL is found, so a
// test that expects none to be loaded can really fail.
#include <windows.h>

#include <sstream>
#include <string>

#include "tool_support.h"

namespace {

std::wstring CurrentFolder() {
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  return folder;
}

// When the parent created this process, as the system recorded it: the time
// this program takes to start (long under an emulator) is not counted.
std::uint64_t CreationTime() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return e2e::PreciseNow();
  return e2e::FileTimeValue(created);
}

std::string StartRecord(std::uint64_t start_time) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const wchar_t* command_line = GetCommandLineW();
  e2e::JsonObject record;
  record.Text("command_line", command_line ? command_line : L"")
      .Text("current_directory", CurrentFolder())
      .Unsigned("startup_flags", startup.dwFlags)
      .Unsigned("show_window", startup.wShowWindow)
      .Text("exe_path", e2e::ModuleFileName(nullptr))
      .Unsigned("start_time", start_time);
  return record.Finish() + "\n";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::uint64_t start_time = CreationTime();
  int exit_code = 0;
  const std::wstring record_file = e2e::EnvironmentValue(L"TAVRELO_JAVA_RECORD");
  if (!record_file.empty() && !e2e::WriteToFile(record_file, StartRecord(start_time), true)) exit_code = 1;
  std::wistringstream libraries(e2e::EnvironmentValue(L"TAVRELO_JAVA_LOAD_LIBRARY"));
  for (std::wstring library; std::getline(libraries, library, L';');) {
    if (HMODULE module = library.empty() ? nullptr : LoadLibraryW(library.c_str())) FreeLibrary(module);
  }
  return exit_code;
}
