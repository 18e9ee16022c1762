// Win32 implementations of the launcher's platform interfaces.
#pragma once

#include "launcher/launcher_platform.h"

namespace tavrelo {

class Win32MessageBoxes : public MessageBoxes {
 public:
  void Show(const std::u16string& text) override;
};

class Win32FileSystem : public FileSystem {
 public:
  bool FileExists(const std::u16string& path) override;
  Outcome<void> CopyFileOverwrite(const std::u16string& source,
                                  const std::u16string& destination) override;
};

class Win32ProcessControl : public ProcessControl {
 public:
  std::u16string CurrentDirectory() override;
  bool ChangeDirectory(const std::u16string& folder) override;
  std::uint32_t StartHidden(const std::u16string& command,
                            const std::u16string& working_folder) override;
  std::u16string DescribeError(std::uint32_t error) override;
  [[noreturn]] void EndProcess(int exit_code) override;
};

class Win32Clock : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};

// The system's message for an error number, without the trailing line break.
std::u16string SystemErrorText(std::uint32_t error);

// The full path of the running executable, however long it is.
std::u16string ModulePath();

}  // namespace tavrelo
