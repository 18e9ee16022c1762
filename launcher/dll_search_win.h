// Keeps DLLs planted in the working folder out of the process, and those
// next to the executable too wherever the system can limit the DLL search
// to System32.
#pragma once

#include <windows.h>

namespace tavrelo {

// SetDefaultDllDirectories: Windows 8 and later have it, Vista and 7 only
// with an update, XP never.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// The system's SetDefaultDllDirectories; null where it has none.
SetDefaultDllDirectoriesFn LookUpSetDefaultDllDirectories();

// Takes the working folder out of the DLL search for every later load and,
// with SET_DEFAULT, limits the search to System32.
void RestrictDllSearch(SetDefaultDllDirectoriesFn set_default);

// Limits the process's DLL search to System32 for every later load, as far
// as the system allows.
void RestrictDllSearchToSystem32();

}  // namespace tavrelo
