// The contract between tavrelo-driver and icon-probe.dll.
//
// Icons belong to the process that loaded them: another process can neither
// read a window's class icons nor ask GetIconInfo about them (Wine answers
// ERROR_INVALID_HANDLE). So the driver installs icon-probe.dll as a
// WH_GETMESSAGE hook on the inspected window's thread and posts it the probe
// message; the hook, running inside that process, describes the icons as a
// JSON object and hands the text back through a named shared memory block.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

inline constexpr wchar_t kIconProbeMessage[] = L"TavreloE2eIconProbe";
inline constexpr char kIconProbeHookName[] = "IconProbeHook";
inline constexpr DWORD kIconProbeBytes = 16 * 1024;

// Both names carry the driver's pid, which the probe message brings along in
// its wParam, so that several drivers can run at once.
inline std::wstring IconProbeMappingName(DWORD driver_pid) {
  return L"Local\\TavreloE2eIconProbe-" + std::to_wstring(driver_pid);
}
inline std::wstring IconProbeEventName(DWORD driver_pid) {
  return L"Local\\TavreloE2eIconProbeDone-" + std::to_wstring(driver_pid);
}

// Layout of the shared block: the length of the UTF-8 JSON text, then the text.
struct IconProbeBlock {
  DWORD length;
  char text[kIconProbeBytes - sizeof(DWORD)];
};

}  // namespace e2e
