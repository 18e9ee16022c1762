// Stand-in for the Java runtime's java.exe. It records how it was started
// (one JSON object per line, appended to the file named by
// TAVRELO_JAVA_RECORD) and optionally lingers for TAVRELO_JAVA_SLEEP_MS.
// GUI subsystem: no console is created, so the show state the parent passed
// in STARTUPINFO is exactly what the record reports.
// TAVRELO_JAVA_LOAD_LIBRARY names libraries (separated by ';') to load by
// their bare names, the way a careless program would: with marker DLLs
// planted next to this program that shows each planted DLL is found, so a
// test that expects none to be loaded can really fail.
#include <windows.h>

#include <cwchar>
#include <string>

#include "tool_support.h"

namespace {

std::wstring CurrentFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0) return {};
    if (length < folder.size()) {
      folder.resize(length);
      return folder;
    }
    folder.resize(length);
  }
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
      .Unsigned("pid", GetCurrentProcessId())
      .Unsigned("start_time", start_time);
  return record.Finish() + "\n";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::uint64_t start_time = e2e::PreciseNow();
  int exit_code = 0;
  std::wstring record_file;
  if (e2e::EnvironmentValue(L"TAVRELO_JAVA_RECORD", record_file) && !record_file.empty()) {
    if (!e2e::AppendToFile(record_file, StartRecord(start_time))) exit_code = 1;
  }
  std::wstring libraries;
  if (e2e::EnvironmentValue(L"TAVRELO_JAVA_LOAD_LIBRARY", libraries)) {
    std::size_t start = 0;
    while (start < libraries.size()) {
      std::size_t end = libraries.find(L';', start);
      if (end == std::wstring::npos) end = libraries.size();
      const std::wstring library = libraries.substr(start, end - start);
      if (!library.empty()) {
        if (HMODULE module = LoadLibraryW(library.c_str())) FreeLibrary(module);
      }
      start = end + 1;
    }
  }
  std::wstring sleep_text;
  if (e2e::EnvironmentValue(L"TAVRELO_JAVA_SLEEP_MS", sleep_text)) {
    const unsigned long milliseconds = std::wcstoul(sleep_text.c_str(), nullptr, 10);
    if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
  }
  return exit_code;
}
