// The Win32 file operations of a whole copy.
#pragma once

#include "launcher/file_steps.h"

namespace tavrelo {

class Win32FileSteps : public FileSteps {
 public:
  std::uint32_t OpenToRead(const std::u16string& path, FileId* file) override;
  std::uint32_t CreateToWrite(const std::u16string& path, FileId* file) override;
  std::uint32_t Read(FileId file, std::uint8_t* buffer, std::uint32_t size,
                     std::uint32_t* read) override;
  std::uint32_t Write(FileId file, const std::uint8_t* data, std::uint32_t size) override;
  std::uint32_t Flush(FileId file) override;
  void Close(FileId file) override;
  std::uint32_t Replace(const std::u16string& from, const std::u16string& to) override;
  void Delete(const std::u16string& path) override;
  bool Exists(const std::u16string& path) override;
  void Pause() override;
  std::u16string DescribeError(std::uint32_t error) override;
};

}  // namespace tavrelo
