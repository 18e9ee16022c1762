// Keeps DLLs planted next to the executable or in the working folder out of
// the process: every later DLL load searches System32 only.
#pragma once

namespace tavrelo {

// Limits the process's DLL search to System32 for every later load.
void RestrictDllSearchToSystem32();

}  // namespace tavrelo
