// Fakes of the launcher's platform interfaces. All of them write to one event
// log, so tests can check what happened and in which order.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/launcher_platform.h"
#include "tests/fakes/fake_registry.h"

namespace tavrelo::testing {

// Thrown by FakeProcessControl::EndProcess in place of ending the process:
// the native test build has exceptions, and nothing in the launcher catches.
struct ProcessEnded {
  int exit_code;
};

using EventLog = std::vector<std::u16string>;

class FakeMessageBoxes : public MessageBoxes {
 public:
  explicit FakeMessageBoxes(EventLog& log) : log_(log) {}
  void Show(const std::u16string& text) override;
  std::vector<std::u16string> shown;

 private:
  EventLog& log_;
};

// Files and folders by full path, letter case ignored as on Windows.
class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(EventLog& log) : log_(log) {}
  void AddFolder(const std::u16string& path);
  void AddFile(const std::u16string& path, const std::string& content = "x",
               bool read_only = false);
  bool Has(const std::u16string& path) const;
  std::string Content(const std::u16string& path) const;

  bool FileExists(const std::u16string& path) override;
  Outcome<void> CopyFileOverwrite(const std::u16string& source,
                                  const std::u16string& destination) override;

  std::vector<std::pair<std::u16string, std::u16string>> copies;

 private:
  struct File {
    std::string content;
    bool read_only;
  };
  EventLog& log_;
  std::set<std::u16string> folders_;    // lower case
  std::map<std::u16string, File> files_;  // lower case
};

class FakeProcessControl : public ProcessControl {
 public:
  explicit FakeProcessControl(EventLog& log) : log_(log) {}
  std::u16string CurrentDirectory() override { return current_directory; }
  bool ChangeDirectory(const std::u16string& folder) override;
  std::uint32_t StartHidden(const std::u16string& command,
                            const std::u16string& working_folder) override;
  std::u16string DescribeError(std::uint32_t error) override;
  [[noreturn]] void EndProcess(int exit_code) override;

  std::u16string current_directory = u"C:\\Users\\user";
  std::uint32_t start_error = 0;  // what StartHidden returns
  struct Start {
    std::u16string command;
    std::u16string working_folder;
    std::u16string launcher_directory;  // the launcher's own, at the time
  };
  std::vector<Start> starts;

 private:
  EventLog& log_;
};

class FakeClock : public Clock {
 public:
  explicit FakeClock(EventLog& log) : log_(log) {}
  void Sleep(std::uint32_t milliseconds) override;

 private:
  EventLog& log_;
};

// A whole launcher environment over fakes, with its application folder.
struct FakePlatform {
  explicit FakePlatform(std::u16string app_folder = u"C:\\Program Files\\Tavrelo")
      : env{registry, files, messages, process, clock, std::move(app_folder)} {}
  EventLog log;
  FakeRegistry registry;
  FakeMessageBoxes messages{log};
  FakeFileSystem files{log};
  FakeProcessControl process{log};
  FakeClock clock{log};
  LauncherEnvironment env;
};

}  // namespace tavrelo::testing
