#include "launcher/file_steps_win.h"

#include <windows.h>

#include "launcher/paths.h"
#include "launcher/platform_win.h"
#include "launcher/win_handles.h"  // Wide

namespace tavrelo {
namespace {

HANDLE AsHandle(FileId file) { return reinterpret_cast<HANDLE>(file); }

std::uint32_t Open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags, FileId* file) {
  const HANDLE handle = CreateFileW(Wide(ExtendedLengthPath(path)), access, share, nullptr,
                                    disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  *file = reinterpret_cast<FileId>(handle);
  return 0;
}

// Waiting for another launcher's copy: long enough not to busy the machine,
// short against the time a copy takes.
constexpr DWORD kPauseMilliseconds = 50;

}  // namespace

std::uint32_t Win32FileSteps::OpenToRead(const std::u16string& path, FileId* file) {
  return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, file);
}

std::uint32_t Win32FileSteps::CreateToWrite(const std::u16string& path, FileId* file) {
  // Shared for deletion only, which lets this process rename it while open.
  return Open(path, GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, file);
}

std::uint32_t Win32FileSteps::Read(FileId file, std::uint8_t* buffer, std::uint32_t size,
                                   std::uint32_t* read) {
  DWORD count = 0;
  if (!ReadFile(AsHandle(file), buffer, size, &count, nullptr)) return GetLastError();
  *read = count;
  return 0;
}

std::uint32_t Win32FileSteps::Write(FileId file, const std::uint8_t* data, std::uint32_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(AsHandle(file), data, size, &written, nullptr)) return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    data += written;
    size -= written;
  }
  return 0;
}

std::uint32_t Win32FileSteps::Flush(FileId file) {
  return FlushFileBuffers(AsHandle(file)) ? 0 : GetLastError();
}

void Win32FileSteps::Close(FileId file) { CloseHandle(AsHandle(file)); }

std::uint32_t Win32FileSteps::Replace(const std::u16string& from, const std::u16string& to) {
  return MoveFileExW(Wide(ExtendedLengthPath(from)), Wide(ExtendedLengthPath(to)),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : GetLastError();
}

void Win32FileSteps::Delete(const std::u16string& path) {
  DeleteFileW(Wide(ExtendedLengthPath(path)));
}

bool Win32FileSteps::Exists(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(ExtendedLengthPath(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void Win32FileSteps::Pause() { ::Sleep(kPauseMilliseconds); }

std::u16string Win32FileSteps::DescribeError(std::uint32_t error) {
  return SystemErrorText(error);
}

}  // namespace tavrelo
