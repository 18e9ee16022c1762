#include "tests/fakes/fake_platform.h"

#include "common/failure.h"
#include "common/text.h"

namespace tavrelo::testing {
namespace {

std::u16string ParentOf(const std::u16string& path) {
  const std::size_t last = path.find_last_of(u'\\');
  return last == std::u16string::npos ? std::u16string() : path.substr(0, last);
}

}  // namespace

void FakeMessageBoxes::Show(const std::u16string& text) {
  shown.push_back(text);
  log_.push_back(u"message: " + text);
}

void FakeFileSystem::AddFolder(const std::u16string& path) {
  for (std::u16string folder = path; !folder.empty(); folder = ParentOf(folder)) {
    folders_.insert(AsciiLower(folder));
  }
}

void FakeFileSystem::AddFile(const std::u16string& path, const std::string& content,
                             bool read_only) {
  AddFolder(ParentOf(path));
  files_[AsciiLower(path)] = File{content, read_only};
}

bool FakeFileSystem::Has(const std::u16string& path) const {
  return files_.count(AsciiLower(path)) != 0;
}

std::string FakeFileSystem::Content(const std::u16string& path) const {
  auto found = files_.find(AsciiLower(path));
  return found == files_.end() ? std::string() : found->second.content;
}

bool FakeFileSystem::FileExists(const std::u16string& path) {
  log_.push_back(u"exists? " + path);
  return Has(path);
}

Outcome<void> FakeFileSystem::CopyFileOverwrite(const std::u16string& source,
                                                const std::u16string& destination) {
  log_.push_back(u"copy " + source + u" -> " + destination);
  auto from = files_.find(AsciiLower(source));
  if (from == files_.end()) return Failure(2, u"The system cannot find the file specified.");
  if (folders_.count(AsciiLower(ParentOf(destination))) == 0) {
    return Failure(3, u"The system cannot find the path specified.");
  }
  auto to = files_.find(AsciiLower(destination));
  if (to != files_.end() && to->second.read_only) return Failure(5, u"Access is denied.");
  files_[AsciiLower(destination)] = File{from->second.content, false};
  copies.emplace_back(source, destination);
  return {};
}

bool FakeProcessControl::ChangeDirectory(const std::u16string& folder) {
  log_.push_back(u"chdir " + folder);
  current_directory = folder;
  return true;
}

std::uint32_t FakeProcessControl::StartHidden(const std::u16string& command,
                                              const std::u16string& working_folder) {
  log_.push_back(u"start " + command);
  if (start_error != 0) return start_error;
  starts.push_back(Start{command, working_folder, current_directory});
  return 0;
}

std::u16string FakeProcessControl::DescribeError(std::uint32_t error) {
  return u"System error " + DecimalText(error) + u".";
}

void FakeProcessControl::EndProcess(int exit_code) {
  log_.push_back(u"end " + DecimalText(exit_code));
  throw ProcessEnded{exit_code};
}

void FakeClock::Sleep(std::uint32_t milliseconds) {
  log_.push_back(u"sleep " + DecimalText(milliseconds));
}

}  // namespace tavrelo::testing
