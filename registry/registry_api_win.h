// The registry functions of advapi32 (ANSI forms) and the system code page.
#pragma once

#include "registry/registry_api.h"

namespace tavrelo {

class Win32RegistryApi : public RegistryApi {
 public:
  long OpenKey(RegHandle root, const AnsiText& path, std::uint32_t access,
               RegHandle* opened) override;
  long EnumKey(RegHandle key, std::uint32_t index, char* buffer, std::uint32_t size) override;
  long QueryValue(RegHandle key, const AnsiText& name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* length) override;
  void CloseKey(RegHandle key) override;
  AnsiText ToAnsi(std::u16string_view text) override;
  std::u16string FromAnsi(AnsiView text) override;
};

}  // namespace tavrelo
