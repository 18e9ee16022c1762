#include "tests/fakes/fake_file_steps.h"

#include <algorithm>
#include <stdexcept>

#include "common/text.h"

namespace tavrelo::testing {

const std::vector<std::string>& FakeFileSteps::StepNames() {
  static const std::vector<std::string> names = {"OpenToRead", "CreateToWrite", "Read",
                                                 "Write",      "Flush",         "Replace"};
  return names;
}

std::u16string FakeFileSteps::Key(const std::u16string& path) { return AsciiLower(path); }

void FakeFileSteps::AddFile(const std::u16string& path, const std::string& content) {
  files_[Key(path)] = content;
}

bool FakeFileSteps::Has(const std::u16string& path) const { return files_.count(Key(path)) != 0; }

std::string FakeFileSteps::Content(const std::u16string& path) const {
  auto found = files_.find(Key(path));
  return found == files_.end() ? std::string() : found->second;
}

std::set<std::u16string> FakeFileSteps::Paths() const {
  std::set<std::u16string> paths;
  for (const auto& [key, content] : files_) paths.insert(key);
  return paths;
}

void FakeFileSteps::FailAt(const std::string& name, int occurrence, std::uint32_t error) {
  failures_[name][occurrence] = error;
}

std::uint32_t FakeFileSteps::Step(const std::string& name) {
  if (hook_) hook_(name, steps_);
  ++steps_;
  const int call = ++calls_[name];
  auto step = failures_.find(name);
  if (step == failures_.end()) return 0;
  auto failure = step->second.find(call);
  return failure == step->second.end() ? 0 : failure->second;
}

bool FakeFileSteps::OpenForWriting(const std::u16string& key) const {
  if (held_elsewhere_.count(key) != 0) return true;
  return std::any_of(open_.begin(), open_.end(),
                     [&](const auto& entry) { return entry.second.key == key && entry.second.writing; });
}

std::uint32_t FakeFileSteps::OpenToRead(const std::u16string& path, FileId* file) {
  if (const std::uint32_t error = Step("OpenToRead")) return error;
  if (!Has(path)) return 2;  // ERROR_FILE_NOT_FOUND
  *file = next_file_++;
  open_[*file] = Open{Key(path), false, 0};
  return 0;
}

std::uint32_t FakeFileSteps::CreateToWrite(const std::u16string& path, FileId* file) {
  if (const std::uint32_t error = Step("CreateToWrite")) return error;
  if (OpenForWriting(Key(path))) return kErrorSharingViolation;
  files_[Key(path)].clear();
  *file = next_file_++;
  open_[*file] = Open{Key(path), true, 0};
  return 0;
}

std::uint32_t FakeFileSteps::Read(FileId file, std::uint8_t* buffer, std::uint32_t size,
                                  std::uint32_t* read) {
  if (const std::uint32_t error = Step("Read")) return error;
  Open& opened = open_.at(file);
  const std::string& content = files_.at(opened.key);
  const std::size_t count = std::min<std::size_t>(size, content.size() - opened.position);
  std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(opened.position), count, buffer);
  opened.position += count;
  *read = static_cast<std::uint32_t>(count);
  return 0;
}

std::uint32_t FakeFileSteps::Write(FileId file, const std::uint8_t* data, std::uint32_t size) {
  if (const std::uint32_t error = Step("Write")) return error;
  files_.at(open_.at(file).key).append(reinterpret_cast<const char*>(data), size);
  return 0;
}

std::uint32_t FakeFileSteps::Flush(FileId file) {
  open_.at(file);
  return Step("Flush");
}

void FakeFileSteps::Close(FileId file) {
  if (open_.erase(file) == 0) throw std::logic_error("closed a file that is not open");
}

std::uint32_t FakeFileSteps::Replace(const std::u16string& from, const std::u16string& to) {
  if (const std::uint32_t error = Step("Replace")) return error;
  auto found = files_.find(Key(from));
  if (found == files_.end()) return 2;
  if (OpenForWriting(Key(to))) return kErrorSharingViolation;
  std::string content = std::move(found->second);
  files_.erase(found);
  files_[Key(to)] = std::move(content);
  // Open files keep referring to the file under its new name.
  for (auto& [id, opened] : open_) {
    if (opened.key == Key(from)) opened.key = Key(to);
  }
  return 0;
}

void FakeFileSteps::Delete(const std::u16string& path) {
  if (!OpenForWriting(Key(path))) files_.erase(Key(path));
}

bool FakeFileSteps::Exists(const std::u16string& path) { return Has(path); }

void FakeFileSteps::Pause() {
  if (!on_pause) throw std::logic_error("paused with nothing to wait for");
  on_pause();
}

std::u16string FakeFileSteps::DescribeError(std::uint32_t error) {
  return u"System error " + DecimalText(error) + u".";
}

}  // namespace tavrelo::testing
