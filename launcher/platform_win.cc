#include "launcher/platform_win.h"

#include <windows.h>

#include "common/failure.h"
#include "common/text.h"
#include "launcher/file_steps_win.h"
#include "launcher/messages.h"
#include "launcher/paths.h"
#include "launcher/whole_copy.h"
#include "launcher/win_handles.h"

namespace tavrelo {
namespace {

// Owns a buffer that FormatMessageW allocated with LocalAlloc.
class LocalBuffer {
 public:
  LocalBuffer() = default;
  ~LocalBuffer() {
    if (buffer_) LocalFree(buffer_);
  }
  LocalBuffer(const LocalBuffer&) = delete;
  LocalBuffer& operator=(const LocalBuffer&) = delete;
  wchar_t** out() { return &buffer_; }
  const wchar_t* get() const { return buffer_; }

 private:
  wchar_t* buffer_ = nullptr;
};

// A text buffer for the wide-character API to write into.
wchar_t* Buffer(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }

// A process's working folder must be shorter than MAX_PATH. For a longer
// folder the short (8.3) form of the same folder is used when the volume has
// short names and it fits; otherwise the folder is passed as it is and the
// system decides.
std::u16string UsableWorkingFolder(const std::u16string& folder) {
  if (folder.size() < MAX_PATH) return folder;
  const std::u16string extended = ExtendedLengthPath(folder);
  const DWORD needed = GetShortPathNameW(Wide(extended), nullptr, 0);
  if (needed == 0) return folder;
  std::u16string short_form(needed, u'\0');
  const DWORD length = GetShortPathNameW(Wide(extended), Buffer(short_form), needed);
  if (length == 0 || length >= needed) return folder;
  short_form.resize(length);
  if (short_form.starts_with(u"\\\\?\\UNC\\")) {
    short_form = u"\\\\" + short_form.substr(8);
  } else if (short_form.starts_with(u"\\\\?\\")) {
    short_form = short_form.substr(4);
  }
  return short_form.size() < MAX_PATH ? short_form : folder;
}

}  // namespace

void Win32MessageBoxes::Show(const std::u16string& text) {
  MessageBoxW(nullptr, Wide(text), Wide(kAppTitle), MB_OK | MB_SETFOREGROUND);
}

bool Win32FileSystem::FileExists(const std::u16string& path) {
  return Win32FileSteps().Exists(path);
}

Outcome<void> Win32FileSystem::CopyFileOverwrite(const std::u16string& source,
                                                 const std::u16string& destination) {
  Win32FileSteps steps;
  return CopyWhole(steps, source, destination);
}

std::u16string Win32ProcessControl::CurrentDirectory() {
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), Buffer(buffer));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
}

bool Win32ProcessControl::ChangeDirectory(const std::u16string& folder) {
  return SetCurrentDirectoryW(Wide(folder)) != 0;
}

std::uint32_t Win32ProcessControl::StartHidden(const std::u16string& command,
                                               const std::u16string& working_folder) {
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::u16string command_line = command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started = {};
  const std::u16string folder = UsableWorkingFolder(working_folder);
  if (!CreateProcessW(nullptr, Buffer(command_line), nullptr, nullptr, FALSE, 0, nullptr,
                      Wide(folder), &startup, &started)) {
    return GetLastError();
  }
  UniqueKernelHandle process(started.hProcess);
  UniqueKernelHandle thread(started.hThread);
  return 0;
}

std::u16string Win32ProcessControl::DescribeError(std::uint32_t error) {
  return SystemErrorText(error);
}

void Win32ProcessControl::EndProcess(int exit_code) {
  ExitProcess(static_cast<UINT>(exit_code));
}

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::u16string SystemErrorText(std::uint32_t error) {
  LocalBuffer text;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(text.out()), 0, nullptr);
  if (length == 0 || text.get() == nullptr) {
    return u"Unknown error " + DecimalText(error) + u".";
  }
  std::u16string message(reinterpret_cast<const char16_t*>(text.get()), length);
  while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' ||
                              message.back() == u' ')) {
    message.pop_back();
  }
  return message;
}

std::u16string ModulePath() {
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, Buffer(buffer), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    // A full buffer means the path may have been cut: try again with more room.
    if (length < buffer.size() || buffer.size() >= 0x10000) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace tavrelo
