// An in-memory registry behind RegistryApi, for the unit tests. It can deny
// opens, fail enumerations at an index, replay any query result, and it counts
// opens, closes and queries so that tests can check the handle balance.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "registry/registry_api.h"

namespace tavrelo::testing {

struct FakeValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// Replaces one query of a value: gets the 1-based number of the query for
// this read and the arguments, returns the result code.
using QueryScript = std::function<long(int query_number, std::uint32_t* type, std::uint8_t* data,
                                       std::uint32_t* length)>;

class FakeRegistry : public RegistryApi {
 public:
  // Paths are relative to HKEY_LOCAL_MACHINE, levels separated by backslashes.
  void AddKey(const std::string& path);
  void SetValue(const std::string& key_path, const std::string& name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  void SetText(const std::string& key_path, const std::string& name, const std::string& text,
               std::uint32_t type = 1);
  void DenyOpen(const std::string& path, long code = 5);
  void FailEnumAt(const std::string& path, std::uint32_t index, long code = 1010);
  void ScriptQueries(QueryScript script) { script_ = std::move(script); }

  long OpenKey(RegHandle root, const AnsiText& path, std::uint32_t access,
               RegHandle* opened) override;
  long EnumKey(RegHandle key, std::uint32_t index, char* buffer, std::uint32_t size) override;
  long QueryValue(RegHandle key, const AnsiText& name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* length) override;
  void CloseKey(RegHandle key) override;
  // Latin-1 stands in for the ANSI code page: one byte per code unit,
  // characters beyond U+00FF become '?'.
  AnsiText ToAnsi(std::u16string_view text) override;
  std::u16string FromAnsi(AnsiView text) override;

  int opens() const { return opens_; }
  int closes() const { return closes_; }
  int queries() const { return queries_; }
  std::size_t open_handles() const { return open_.size(); }
  bool closed_foreign_handle() const { return closed_foreign_; }
  std::uint32_t last_access() const { return last_access_; }
  const std::vector<std::string>& opened_paths() const { return opened_paths_; }

 private:
  struct Key {
    std::vector<std::string> subkeys;  // in enumeration order, original case
    std::map<std::string, FakeValue> values;  // by lower-case name
    std::optional<long> deny_open;
    std::optional<std::pair<std::uint32_t, long>> enum_failure;
  };
  Key& Ensure(const std::string& path);
  Key* Find(const std::string& path);
  std::string PathOf(RegHandle handle) const;

  std::map<std::string, Key> keys_;          // by lower-case full path; "" is the root
  std::map<RegHandle, std::string> open_;    // handle -> lower-case path
  RegHandle next_handle_ = 0x1000;
  QueryScript script_;
  int query_in_read_ = 0;
  int opens_ = 0;
  int closes_ = 0;
  int queries_ = 0;
  bool closed_foreign_ = false;
  std::uint32_t last_access_ = 0;
  std::vector<std::string> opened_paths_;
};

}  // namespace tavrelo::testing
