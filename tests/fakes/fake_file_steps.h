// An in-memory file system behind FileSteps, for the unit tests of a whole
// copy. Paths are compared ignoring letter case. Every step is counted, and
// a test can make any one of them fail with an error, end the "process" in
// the middle of it, or hold a file open as another process would.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/file_steps.h"

namespace tavrelo::testing {

class FakeFileSteps : public FileSteps {
 public:
  // The steps a test can fail or stop the copy at, by name.
  static const std::vector<std::string>& StepNames();

  void AddFile(const std::u16string& path, const std::string& content);
  bool Has(const std::u16string& path) const;
  std::string Content(const std::u16string& path) const;
  // Every path that holds a file.
  std::set<std::u16string> Paths() const;

  // The `occurrence`-th call (1-based) of step `name` fails with `error`.
  void FailAt(const std::string& name, int occurrence, std::uint32_t error);
  // Calls `hook` before every step with the step's name and how many steps
  // ran before it; the hook may throw to end the process there.
  void BeforeEachStep(std::function<void(const std::string&, int)> hook) { hook_ = std::move(hook); }
  // Another process has `path` open and does not share it.
  void HoldElsewhere(const std::u16string& path) { held_elsewhere_.insert(Key(path)); }
  void ReleaseElsewhere(const std::u16string& path) { held_elsewhere_.erase(Key(path)); }
  // Ends the process: the system closes its files.
  void EndProcess() { open_.clear(); }
  // Runs in place of each Pause.
  std::function<void()> on_pause;

  std::size_t open_files() const { return open_.size(); }
  int steps() const { return steps_; }

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

 private:
  struct Open {
    std::u16string key;
    bool writing;
    std::size_t position;
  };
  static std::u16string Key(const std::u16string& path);
  // Counts the step and returns the error it is to fail with, or 0.
  std::uint32_t Step(const std::string& name);
  bool OpenForWriting(const std::u16string& key) const;

  std::map<std::u16string, std::string> files_;  // by lower-case path
  std::map<FileId, Open> open_;
  std::set<std::u16string> held_elsewhere_;
  std::map<std::string, std::map<int, std::uint32_t>> failures_;
  std::map<std::string, int> calls_;
  std::function<void(const std::string&, int)> hook_;
  FileId next_file_ = 1;
  int steps_ = 0;
};

}  // namespace tavrelo::testing
