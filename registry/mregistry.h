// MRegistry: read-only access to the registry through the ANSI functions.
// Every key an operation opens is closed before it returns or fails; handles
// passed in by the caller are never closed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_value.h"
#include "registry/registry_api.h"

namespace tavrelo {

// Subkey names in the order the registry hands them out, each also reachable
// by its own name with letter case ignored.
class SubKeyList {
 public:
  void Add(std::u16string name) { names_.push_back(std::move(name)); }
  const std::vector<std::u16string>& names() const { return names_; }
  std::size_t size() const { return names_.size(); }
  bool empty() const { return names_.empty(); }
  auto begin() const { return names_.begin(); }
  auto end() const { return names_.end(); }
  // The entry whose name matches `name` ignoring ASCII letter case, or null.
  const std::u16string* Find(std::u16string_view name) const;

 private:
  std::vector<std::u16string> names_;
};

// True when `key_path` under `root` can be opened for reading.
bool RegKeyExists(RegistryApi& api, RegHandle root, std::u16string_view key_path);

// Names of the immediate subkeys of `key_path` (of `root` itself when the path
// is empty). A key that cannot be opened gives an empty list; an enumeration
// that fails at some index ends the list there.
SubKeyList RegEnumSubKeys(RegistryApi& api, RegHandle root, std::u16string_view key_path);

// The typed content of `value_name` in `key_path`. A key that cannot be opened
// gives `default_value`. An absent value or an unsupported type fails with
// 1001 "Unsupported value type", default or not.
Outcome<RegValue> ReadRegValue(RegistryApi& api, RegHandle root, std::u16string_view key_path,
                      std::u16string_view value_name, RegValue default_value = {});

}  // namespace tavrelo
