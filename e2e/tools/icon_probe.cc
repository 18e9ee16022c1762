// icon-probe.dll: a WH_GETMESSAGE hook that the driver sets on the splash's
// thread. On the driver's "TavreloIconProbe" message it reads the window
// class's big and small icons from inside the splash's own process, where
// their handles are valid, and answers with the window property of that
// name: the big icon's width and height, then the small one's, 7 bits each,
// and bit 28 set, so that an answer is never 0.
#include <windows.h>

namespace {

unsigned IconSize(HWND window, int index) {
  ICONINFO info = {};
  if (!GetIconInfo(reinterpret_cast<HICON>(GetClassLongPtrW(window, index)), &info)) return 0;
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  const LONG height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;  // a mask alone is twice as high
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return static_cast<unsigned>((bitmap.bmWidth & 127) | (height & 127) << 7);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK IconProbeHook(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const MSG*>(lparam);
  if (code == HC_ACTION && message->message == RegisterWindowMessageW(L"TavreloIconProbe")) {
    const unsigned sizes = IconSize(message->hwnd, GCLP_HICON) | IconSize(message->hwnd, GCLP_HICONSM) << 14;
    SetPropW(message->hwnd, L"TavreloIconProbe", reinterpret_cast<HANDLE>(UINT_PTR{sizes | 1u << 28}));
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
