#include "registry/mregistry.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "common/failure.h"
#include "common/text.h"

namespace tavrelo {
namespace {

constexpr std::uint32_t kNameBufferSize = 260;
constexpr std::uint32_t kFirstQuerySize = 1024;

// Owns a key opened by OpenKey and closes it when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey(RegistryApi& api, RegHandle root, std::u16string_view path) : api_(api) {
    RegHandle key = 0;
    if (api_.OpenKey(root, api_.ToAnsi(path), kKeyRead, &key) == kRegSuccess) {
      key_ = key;
      open_ = true;
    }
  }
  ~OpenedKey() {
    if (open_) api_.CloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  bool is_open() const { return open_; }
  RegHandle get() const { return key_; }

 private:
  RegistryApi& api_;
  RegHandle key_ = 0;
  bool open_ = false;
};

}  // namespace

const std::u16string* SubKeyList::Find(std::u16string_view name) const {
  const std::u16string wanted = AsciiLower(name);
  for (const std::u16string& entry : names_) {
    if (AsciiLower(entry) == wanted) return &entry;
  }
  return nullptr;
}

bool RegKeyExists(RegistryApi& api, RegHandle root, std::u16string_view key_path) {
  return OpenedKey(api, root, key_path).is_open();
}

SubKeyList RegEnumSubKeys(RegistryApi& api, RegHandle root, std::u16string_view key_path) {
  SubKeyList list;
  std::optional<OpenedKey> opened;
  RegHandle key = root;
  if (!key_path.empty()) {
    opened.emplace(api, root, key_path);
    if (!opened->is_open()) return list;
    key = opened->get();
  }
  char buffer[kNameBufferSize];
  for (std::uint32_t index = 0;; ++index) {
    std::memset(buffer, ' ', sizeof buffer);
    if (api.EnumKey(key, index, buffer, kNameBufferSize) != kRegSuccess) break;
    // The name ends at the first NUL; a buffer without one is taken whole.
    const char* end = static_cast<const char*>(std::memchr(buffer, '\0', sizeof buffer));
    const std::size_t length = end ? static_cast<std::size_t>(end - buffer) : sizeof buffer;
    list.Add(api.FromAnsi(AnsiView(buffer, length)));
  }
  return list;
}

Outcome<RegValue> ReadRegValue(RegistryApi& api, RegHandle root, std::u16string_view key_path,
                      std::u16string_view value_name, RegValue default_value) {
  OpenedKey key(api, root, key_path);
  if (!key.is_open()) return default_value;

  const AnsiText name = api.ToAnsi(value_name);
  RegBytes buffer(kFirstQuerySize, 0);
  std::uint32_t length = kFirstQuerySize;
  std::uint32_t type = 0;
  const long first = api.QueryValue(key.get(), name, &type, buffer.data(), &length);
  if (first == kRegMoreData) {
    buffer.assign(length, 0);
    // The second query's result is not examined. If the value grew in the
    // meantime its reported length exceeds the buffer; only the bytes the
    // buffer holds are ever converted (clamped below).
    api.QueryValue(key.get(), name, &type, buffer.data(), &length);
  } else if (first != kRegSuccess) {
    // An absent or unreadable value: whatever the type now holds, there is no
    // data to convert, so it is reported as an unsupported type.
    type = 0;
  }
  // `key` is closed by its owner on return, whether the conversion failed or
  // not, so no failure leaves a handle open.
  const std::size_t size = std::min<std::size_t>(length, buffer.size());
  return ConvertRegData(type, std::span<const std::uint8_t>(buffer.data(), size), api);
}

}  // namespace tavrelo
