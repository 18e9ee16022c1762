// The single file operations that a whole copy is made of, as an interface
// so they can be mocked out for tests. launcher/file_steps_win.cc holds the
// real Win32 ones. Each returns 0, or the system's error number.
#pragma once

#include <cstdint>
#include <string>

namespace tavrelo {

// ERROR_SHARING_VIOLATION: the file is open in another process that does not
// share it.
inline constexpr std::uint32_t kErrorSharingViolation = 32;

// An open file.
using FileId = std::uintptr_t;

class FileSteps {
 public:
  virtual ~FileSteps() = default;
  // Opens an existing file for reading.
  virtual std::uint32_t OpenToRead(const std::u16string& path, FileId* file) = 0;
  // Creates `path`, or empties it, for writing by this process alone: while
  // it is open another process can neither open nor delete it (that fails
  // with kErrorSharingViolation), but this process can rename it.
  virtual std::uint32_t CreateToWrite(const std::u16string& path, FileId* file) = 0;
  // Reads up to `size` bytes into `buffer`; `*read` is 0 at the end.
  virtual std::uint32_t Read(FileId file, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t* read) = 0;
  virtual std::uint32_t Write(FileId file, const std::uint8_t* data, std::uint32_t size) = 0;
  // Writes what the file holds through to the disk.
  virtual std::uint32_t Flush(FileId file) = 0;
  virtual void Close(FileId file) = 0;
  // Gives the file `from` the name `to` in one step, replacing a file of that
  // name, written through to the disk before it returns.
  virtual std::uint32_t Replace(const std::u16string& from, const std::u16string& to) = 0;
  // Best effort.
  virtual void Delete(const std::u16string& path) = 0;
  // True when `path` names an existing file (not a folder).
  virtual bool Exists(const std::u16string& path) = 0;
  // Waits a moment, so that another process can get on.
  virtual void Pause() = 0;
  // The system's message text for an error number, without a line break.
  virtual std::u16string DescribeError(std::uint32_t error) = 0;
};

}  // namespace tavrelo
