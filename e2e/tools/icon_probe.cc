// icon-probe.dll: a WH_GETMESSAGE hook that describes a window's icons from
// inside the window's own process (see icon_probe.h for why).
#include "icon_probe.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "tool_support.h"

namespace {

// Deletes the bitmaps GetIconInfo hands out.
class IconBitmaps {
 public:
  IconBitmaps() = default;
  ~IconBitmaps() {
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
  IconBitmaps(const IconBitmaps&) = delete;
  IconBitmaps& operator=(const IconBitmaps&) = delete;
  ICONINFO info = {};
};

// {"present":..,"width":..,"height":..}: the icon's size as its bitmaps say.
// A monochrome icon keeps image and mask in one bitmap of double height.
std::string DescribeIcon(HICON icon) {
  e2e::JsonObject out;
  out.Bool("present", icon != nullptr);
  if (!icon) return out.Finish();
  IconBitmaps bitmaps;
  if (!GetIconInfo(icon, &bitmaps.info)) {
    out.Unsigned("error", GetLastError());
    return out.Finish();
  }
  BITMAP bitmap = {};
  const bool colour = bitmaps.info.hbmColor != nullptr;
  if (GetObjectW(colour ? bitmaps.info.hbmColor : bitmaps.info.hbmMask, sizeof bitmap, &bitmap) != sizeof bitmap) {
    out.Unsigned("error", GetLastError());
    return out.Finish();
  }
  out.Number("width", bitmap.bmWidth).Number("height", colour ? bitmap.bmHeight : bitmap.bmHeight / 2);
  return out.Finish();
}

HICON ClassIcon(HWND window, int index) { return reinterpret_cast<HICON>(GetClassLongPtrW(window, index)); }

void Report(HWND window, DWORD driver_pid) {
  const std::string text = e2e::JsonObject()
                               .Raw("class_big", DescribeIcon(ClassIcon(window, GCLP_HICON)))
                               .Raw("class_small", DescribeIcon(ClassIcon(window, GCLP_HICONSM)))
                               .Finish();

  e2e::UniqueKernelHandle mapping(
      OpenFileMappingW(FILE_MAP_WRITE, FALSE, e2e::IconProbeMappingName(driver_pid).c_str()));
  e2e::UniqueKernelHandle done(OpenEventW(EVENT_MODIFY_STATE, FALSE, e2e::IconProbeEventName(driver_pid).c_str()));
  if (!mapping || !done) return;
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(e2e::IconProbeBlock));
  if (!view) return;
  auto* block = static_cast<e2e::IconProbeBlock*>(view);
  const std::size_t length = text.size() < sizeof block->text ? text.size() : sizeof block->text;
  std::memcpy(block->text, text.data(), length);
  block->length = static_cast<DWORD>(length);
  UnmapViewOfFile(view);
  SetEvent(done.get());
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK IconProbeHook(int code, WPARAM wparam, LPARAM lparam) {
  static const UINT probe_message = RegisterWindowMessageW(e2e::kIconProbeMessage);
  if (code == HC_ACTION && wparam == PM_REMOVE && probe_message != 0) {
    auto* message = reinterpret_cast<MSG*>(lparam);
    if (message->message == probe_message) {
      Report(message->hwnd, static_cast<DWORD>(message->wParam));
      message->message = WM_NULL;  // the program itself never sees the probe
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
