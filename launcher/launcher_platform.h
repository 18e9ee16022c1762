// What the launch sequence needs from the platform, as small interfaces so
// they can be mocked out for tests. launcher/platform_win.cc holds the real
// Win32 implementations.
#pragma once

#include <cstdint>
#include <string>

#include "common/failure.h"
#include "registry/registry_api.h"

namespace tavrelo {

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // A modal box with the application title, one OK button and no icon, shown
  // without an owner window; returns when the user has dismissed it.
  virtual void Show(const std::u16string& text) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when `path` names an existing file (not a folder), using the
  // platform's rules for letter case.
  virtual bool FileExists(const std::u16string& path) = 0;
  // Copies `source` to `destination`, replacing a file of that name, so that
  // whatever stops the copy the destination is never partial (CopyWhole in
  // launcher/whole_copy.h). Fails with the system's error number and
  // message when it cannot.
  virtual Outcome<void> CopyFileOverwrite(const std::u16string& source,
                                 const std::u16string& destination) = 0;
};

class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  virtual std::u16string CurrentDirectory() = 0;
  // Best effort: returns false when the directory cannot be made current.
  virtual bool ChangeDirectory(const std::u16string& folder) = 0;
  // Starts `command` with its main window hidden and `working_folder` as its
  // current directory, without waiting for it or keeping a handle. Returns 0,
  // or the system's error number when the process could not be started.
  virtual std::uint32_t StartHidden(const std::u16string& command,
                                    const std::u16string& working_folder) = 0;
  // The system's message text for an error number, without a trailing line break.
  virtual std::u16string DescribeError(std::uint32_t error) = 0;
  // Ends the launcher's process with `exit_code`.
  [[noreturn]] virtual void EndProcess(int exit_code) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// Everything the launch sequence works with, gathered once at start.
struct LauncherEnvironment {
  RegistryApi& registry;
  FileSystem& files;
  MessageBoxes& messages;
  ProcessControl& process;
  Clock& clock;
  std::u16string app_folder;
};

}  // namespace tavrelo
