#include "launcher/whole_copy.h"

#include <cstdint>
#include <vector>

namespace tavrelo {
namespace {

constexpr std::uint32_t kChunkSize = 64 * 1024;
// How often a copy waits for another process's copy of the same file: a
// minute, with the Win32 adapter's pauses of 50 ms.
constexpr int kMostPauses = 1200;

// Owns a file opened through FileSteps and closes it once.
class OpenedFile {
 public:
  explicit OpenedFile(FileSteps& steps) : steps_(steps) {}
  ~OpenedFile() { Close(); }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  FileId* out() { return &file_; }
  FileId get() const { return file_; }
  void Close() {
    if (file_ != 0) steps_.Close(file_);
    file_ = 0;
  }

 private:
  FileSteps& steps_;
  FileId file_ = 0;
};

Failure CopyFailure(FileSteps& steps, std::uint32_t error, const std::u16string& source,
                    const std::u16string& destination) {
  std::u16string description = u"Could not copy \"";
  description += source;
  description += u"\" to \"";
  description += destination;
  description += u"\".\r\n\r\n";
  description += steps.DescribeError(error);
  return Failure(error, description);
}

// Reads `from` to its end into `to`.
std::uint32_t CopyContent(FileSteps& steps, FileId from, FileId to) {
  std::vector<std::uint8_t> buffer(kChunkSize);
  for (;;) {
    std::uint32_t read = 0;
    if (const std::uint32_t error = steps.Read(from, buffer.data(), kChunkSize, &read)) {
      return error;
    }
    if (read == 0) return 0;
    if (const std::uint32_t error = steps.Write(to, buffer.data(), read)) return error;
  }
}

}  // namespace

std::u16string PartialCopyPath(const std::u16string& destination) {
  return destination + u".tavrelo-partial";
}

Outcome<void> CopyWhole(FileSteps& steps, const std::u16string& source,
                        const std::u16string& destination) {
  OpenedFile from(steps);
  if (const std::uint32_t error = steps.OpenToRead(source, from.out())) {
    return CopyFailure(steps, error, source, destination);
  }
  // Only one process at a time writes the partial copy. Another one that
  // holds it is copying the same file: wait until it has done so, but not
  // for ever, as that process may hang on a source that does not answer.
  const std::u16string partial = PartialCopyPath(destination);
  OpenedFile to(steps);
  std::uint32_t error = steps.CreateToWrite(partial, to.out());
  for (int pauses = 0; error == kErrorSharingViolation && pauses < kMostPauses; ++pauses) {
    steps.Pause();
    error = steps.CreateToWrite(partial, to.out());
  }
  if (error != 0) return CopyFailure(steps, error, source, destination);
  if (steps.Exists(destination)) {
    // Another process has put the whole file in place meanwhile.
    to.Close();
    steps.Delete(partial);
    return {};
  }
  error = CopyContent(steps, from.get(), to.get());
  if (error == 0) error = steps.Flush(to.get());
  // Renamed while still open, so no other process can touch the partial copy
  // between its last byte and its new name.
  if (error == 0) error = steps.Replace(partial, destination);
  to.Close();
  if (error == 0) return {};
  steps.Delete(partial);
  return CopyFailure(steps, error, source, destination);
}

}  // namespace tavrelo
