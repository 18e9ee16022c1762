// Loading DLLs from the System32 folder only, so that a DLL of the same name
// planted next to the executable or in the working folder is never used.
#pragma once

#include <windows.h>

#include "launcher/win_handles.h"

namespace tavrelo {

// Limits the process's DLL search to System32 for every later load.
void RestrictDllSearchToSystem32();

// Loads `name` (a bare file name such as L"gdiplus.dll") from System32.
UniqueModule LoadSystemLibrary(const wchar_t* name);

// The address of `name` in `module` as a function pointer of type F.
template <typename F>
F SystemFunction(const UniqueModule& module, const char* name) {
  FARPROC address = module ? GetProcAddress(module.get(), name) : nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
}

}  // namespace tavrelo
