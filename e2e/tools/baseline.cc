// The smallest comparable Win32 program: one plain overlapped window with a
// client area of 487 x 517 pixels at 96 dpi (scaled with the screen's dpi),
// closed on its first 2000 ms timer tick. A reference point for measuring
// what the launcher's own splash costs in time and memory.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"TavreloBaseline";
constexpr UINT_PTR kTimerId = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      SetTimer(window, kTimerId, 2000, nullptr);
      return 0;
    case WM_TIMER:
      if (wparam == kTimerId) {
        KillTimer(window, kTimerId);
        DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  SetProcessDPIAware();
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kClassName;
  if (!RegisterClassExW(&window_class)) return 1;

  int dpi = 96;
  if (HDC screen = GetDC(nullptr)) {
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  RECT frame = {0, 0, MulDiv(487, dpi, 96), MulDiv(517, dpi, 96)};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
  HWND window = CreateWindowExW(0, kClassName, L"Baseline", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                nullptr);
  if (!window) return 1;
  ShowWindow(window, show_command);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
