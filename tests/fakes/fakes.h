// One in-memory fake of every platform interface. It writes each call that a test cares about,
// in order, as a line of text: registry calls to reg_log, all others to log.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "launcher/file_steps.h"
#include "launcher/launcher_platform.h"

namespace tavrelo::testing {

struct FakeKey {
  std::vector<std::string> subkeys;  // in the order they were added
  std::map<std::string, std::pair<std::uint32_t, std::string>> values;  // name: type, data
  long open_error = 0;
  std::uint32_t enum_fails_at = ~0u;  // the index whose enumeration fails
};

class Fake : public RegistryApi, public FileSystem, public MessageBoxes, public ProcessControl,
             public Clock, public FileSteps {
 public:
  std::vector<std::string> reg_log;
  std::vector<std::u16string> log;
  // Takes the place of the stored values' answers to queries when set.
  std::function<long(std::uint32_t* type, std::uint8_t* data, std::uint32_t* length)> query_script;
  std::map<std::u16string, std::string> disk;  // file path: content
  std::u16string held;                         // a file another process holds open
  std::u16string failing;  // the file step whose log line starts with this fails with 112
  std::function<void()> on_pause;
  int pauses = 0;
  std::map<FileId, std::pair<std::u16string, std::size_t>> open_files;  // path, read position
  std::u16string cwd = u"C:\\Users\\me";
  std::u16string command;  // the last one started
  std::uint32_t start_error = 0;

  // The key (path below HKEY_LOCAL_MACHINE) and its missing parents.
  FakeKey& AddKey(const std::string& path) {
    if (keys_.count(path) == 0) {
      const std::size_t last = path.rfind('\\');
      FakeKey& parent = AddKey(last == std::string::npos ? "HKLM" : path.substr(0, last));
      parent.subkeys.push_back(path.substr(last + 1));
    }
    return keys_[path];
  }
  long OpenKey(RegHandle root, const AnsiText& path, std::uint32_t access, RegHandle* opened) override {
    const std::string name(path.data(), path.size());
    if (root != kHkeyLocalMachine || keys_.count(name) == 0) return 2;  // ERROR_FILE_NOT_FOUND
    if (access != 0x20019) return 5;                                    // only KEY_READ is granted
    if (keys_[name].open_error != 0) return keys_[name].open_error;
    handles_.push_back(name);
    *opened = handles_.size();
    reg_log.push_back("open " + name);
    return 0;
  }
  long EnumKey(RegHandle key, std::uint32_t index, char* buffer, std::uint32_t size) override {
    reg_log.push_back("enum " + PathOf(key) + " " + std::to_string(index) + " " + std::to_string(size));
    const FakeKey& parent = keys_.at(PathOf(key));
    if (index == parent.enum_fails_at) return 1010;  // ERROR_BADKEY
    if (index >= parent.subkeys.size()) return 259;  // ERROR_NO_MORE_ITEMS
    std::memcpy(buffer, parent.subkeys[index].c_str(), parent.subkeys[index].size() + 1);
    return 0;
  }
  long QueryValue(RegHandle key, const AnsiText& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* length) override {
    const std::string value_name(name.data(), name.size());
    reg_log.push_back("query " + PathOf(key) + " " + value_name + " " + std::to_string(*length));
    if (query_script) return query_script(type, data, length);
    const auto& values = keys_.at(PathOf(key)).values;
    if (values.count(value_name) == 0) return 2;  // the type is left as it was
    const auto& [value_type, content] = values.at(value_name);
    *type = value_type;
    const bool fits = content.size() <= *length;
    if (fits) std::memcpy(data, content.data(), content.size());
    *length = static_cast<std::uint32_t>(content.size());
    return fits ? 0 : 234;
  }
  void CloseKey(RegHandle key) override { reg_log.push_back("close " + PathOf(key)); }
  // Latin-1 stands in for the code page.
  AnsiText ToAnsi(std::u16string_view text) override { return AnsiText(text.begin(), text.end()); }
  std::u16string FromAnsi(AnsiView text) override { return FromAscii({text.data(), text.size()}); }

  bool FileExists(const std::u16string& path) override { return disk.count(path) != 0; }
  Outcome<void> CopyFileOverwrite(const std::u16string& source, const std::u16string& target) override {
    log.push_back(u"copy " + source + u" -> " + target);
    if (disk.count(source) == 0) return Failure(2, u"The system cannot find the file specified.");
    disk[target] = disk[source];
    return {};
  }
  void Show(const std::u16string& text) override { log.push_back(u"box: " + text); }
  std::u16string CurrentDirectory() override { return cwd; }
  bool ChangeDirectory(const std::u16string& folder) override {
    cwd = folder;
    log.push_back(u"chdir " + cwd);
    return true;
  }
  std::uint32_t StartHidden(const std::u16string& started, const std::u16string& folder) override {
    log.push_back(u"start in " + folder);
    command = started;
    return start_error;
  }
  std::u16string DescribeError(std::uint32_t error) override {
    return u"System error " + DecimalText(error) + u".";
  }
  [[noreturn]] void EndProcess(int exit_code) override {
    log.push_back(u"end " + SignedDecimalText(exit_code));
    throw exit_code;  // in place of ending the process: nothing in the launcher catches it
  }
  void Sleep(std::uint32_t milliseconds) override { log.push_back(u"sleep " + DecimalText(milliseconds)); }

  std::uint32_t OpenToRead(const std::u16string& path, FileId* file) override {
    if (const std::uint32_t error = Step(u"open " + path)) return error;
    return disk.count(path) == 0 ? 2 : Open(path, file);
  }
  std::uint32_t CreateToWrite(const std::u16string& path, FileId* file) override {
    if (const std::uint32_t error = Step(u"create " + path)) return error;
    if (path == held) return kErrorSharingViolation;
    disk[path].clear();
    return Open(path, file);
  }
  std::uint32_t Read(FileId file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override {
    auto& [path, position] = open_files.at(file);
    const std::string chunk = disk.at(path).substr(position, size);
    *read = static_cast<std::uint32_t>(chunk.size());
    std::memcpy(buffer, chunk.data(), chunk.size());
    position += chunk.size();
    return Step(u"read " + DecimalText(*read));
  }
  std::uint32_t Write(FileId file, const std::uint8_t* data, std::uint32_t size) override {
    disk.at(open_files.at(file).first).append(reinterpret_cast<const char*>(data), size);
    return Step(u"write " + DecimalText(size));
  }
  std::uint32_t Flush(FileId file) override { return Step(u"flush " + DecimalText(static_cast<std::uint32_t>(file))); }
  void Close(FileId file) override {
    log.push_back(u"close " + DecimalText(static_cast<std::uint32_t>(file)));
    open_files.erase(file);
  }
  std::uint32_t Replace(const std::u16string& from, const std::u16string& to) override {
    if (const std::uint32_t error = Step(u"replace " + from + u" -> " + to)) return error;
    disk[to] = disk.at(from);
    disk.erase(from);
    return 0;
  }
  void Delete(const std::u16string& path) override {
    log.push_back(u"delete " + path);
    disk.erase(path);
  }
  bool Exists(const std::u16string& path) override { return disk.count(path) != 0; }
  void Pause() override {
    ++pauses;
    if (on_pause) on_pause();
  }

 private:
  std::string PathOf(RegHandle key) const { return key == kHkeyLocalMachine ? "HKLM" : handles_.at(key - 1); }
  std::uint32_t Step(const std::u16string& line) {
    log.push_back(line);
    return !failing.empty() && line.starts_with(failing) ? 112 : 0;  // ERROR_DISK_FULL
  }
  std::uint32_t Open(const std::u16string& path, FileId* file) {
    *file = next_file_++;
    open_files[*file] = {path, 0};
    return 0;
  }

  std::map<std::string, FakeKey> keys_{{"HKLM", {}}};  // by path; "HKLM" is the root itself
  std::vector<std::string> handles_;  // the key paths of the handles 1, 2, ...
  FileId next_file_ = 1;
};

}  // namespace tavrelo::testing
