// Functions looked up at run time instead of imported, for what not every
// Windows has, or what lives in a DLL loaded on purpose.
#pragma once

#include <windows.h>

namespace tavrelo {

// The address of `name` in `module` as a function pointer of type F; null
// when the module is null or lacks the function.
template <typename F>
F FunctionAddress(HMODULE module, const char* name) {
  FARPROC address = module ? GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
}

}  // namespace tavrelo
