#include "tests/fakes/fake_registry.h"

#include <algorithm>
#include <cstring>

namespace tavrelo::testing {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

std::string Join(const std::string& parent, const std::string& child) {
  if (parent.empty()) return child;
  if (child.empty()) return parent;
  return parent + "\\" + child;
}

constexpr long kFileNotFound = 2;
constexpr long kNoMoreItems = 259;
constexpr long kInvalidHandle = 6;

}  // namespace

FakeRegistry::Key& FakeRegistry::Ensure(const std::string& path) {
  std::string parent;
  std::size_t start = 0;
  keys_[""];
  while (start <= path.size() && !path.empty()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string level = path.substr(start, end - start);
    const std::string full = Join(parent, level);
    if (keys_.find(Lower(full)) == keys_.end()) {
      keys_[Lower(full)];
      keys_[Lower(parent)].subkeys.push_back(level);
    }
    parent = full;
    start = end + 1;
  }
  return keys_[Lower(path)];
}

FakeRegistry::Key* FakeRegistry::Find(const std::string& path) {
  auto found = keys_.find(Lower(path));
  return found == keys_.end() ? nullptr : &found->second;
}

std::string FakeRegistry::PathOf(RegHandle handle) const {
  if (handle == kHkeyLocalMachine) return "";
  auto found = open_.find(handle);
  return found == open_.end() ? std::string("\x01invalid") : found->second;
}

void FakeRegistry::AddKey(const std::string& path) { Ensure(path); }

void FakeRegistry::SetValue(const std::string& key_path, const std::string& name,
                            std::uint32_t type, std::vector<std::uint8_t> data) {
  Ensure(key_path).values[Lower(name)] = FakeValue{type, std::move(data)};
}

void FakeRegistry::SetText(const std::string& key_path, const std::string& name,
                           const std::string& text, std::uint32_t type) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(key_path, name, type, std::move(data));
}

void FakeRegistry::DenyOpen(const std::string& path, long code) { Ensure(path).deny_open = code; }

void FakeRegistry::FailEnumAt(const std::string& path, std::uint32_t index, long code) {
  Ensure(path).enum_failure = std::make_pair(index, code);
}

long FakeRegistry::OpenKey(RegHandle root, const AnsiText& path, std::uint32_t access,
                           RegHandle* opened) {
  last_access_ = access;
  const std::string base = PathOf(root);
  if (base == "\x01invalid") return kInvalidHandle;
  const std::string full = Join(base, std::string(path.data(), path.size()));
  Key* key = Find(full);
  if (!key) return kFileNotFound;
  if (key->deny_open) return *key->deny_open;
  *opened = next_handle_++;
  open_[*opened] = Lower(full);
  ++opens_;
  opened_paths_.push_back(full);
  query_in_read_ = 0;
  return 0;
}

long FakeRegistry::EnumKey(RegHandle handle, std::uint32_t index, char* buffer,
                           std::uint32_t size) {
  Key* key = Find(PathOf(handle));
  if (!key) return kInvalidHandle;
  if (key->enum_failure && key->enum_failure->first == index) return key->enum_failure->second;
  if (index >= key->subkeys.size()) return kNoMoreItems;
  const std::string& name = key->subkeys[index];
  if (name.size() + 1 > size) return 234;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return 0;
}

long FakeRegistry::QueryValue(RegHandle handle, const AnsiText& name, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* length) {
  ++queries_;
  ++query_in_read_;
  if (script_) return script_(query_in_read_, type, data, length);
  Key* key = Find(PathOf(handle));
  if (!key) return kInvalidHandle;
  auto found = key->values.find(Lower(std::string(name.data(), name.size())));
  if (found == key->values.end()) return kFileNotFound;  // type left as it was
  const FakeValue& value = found->second;
  *type = value.type;
  const auto needed = static_cast<std::uint32_t>(value.data.size());
  if (needed > *length) {
    *length = needed;
    return 234;
  }
  std::copy(value.data.begin(), value.data.end(), data);
  *length = needed;
  return 0;
}

void FakeRegistry::CloseKey(RegHandle handle) {
  if (open_.erase(handle) == 0) closed_foreign_ = true;
  ++closes_;
}

AnsiText FakeRegistry::ToAnsi(std::u16string_view text) {
  AnsiText ansi;
  for (char16_t unit : text) ansi.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
  return ansi;
}

std::u16string FakeRegistry::FromAnsi(AnsiView text) {
  std::u16string wide;
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace tavrelo::testing
