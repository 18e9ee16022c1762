// The registry functions of advapi32 (ANSI forms) and the system code page.
#pragma once

#include "registry/registry_api.h"

namespace tavrelo {

class Win32RegistryApi : public RegistryApi {
 public:
  long OpenKey(RegHandle root, const std::string& path, std::uint32_t access,
               RegHandle* opened) override;
  long EnumKey(RegHandle key, std::uint32_t index, char* buffer, std::uint32_t size) override;
  long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* length) override;
  void CloseKey(RegHandle key) override;
  std::string ToAnsi(std::u16string_view text) override;
  std::u16string FromAnsi(std::string_view text) override;
};

}  // namespace tavrelo
