// The bench's reference, the smallest comparable Win32 program: one plain overlapped window with a client
// area of 487 x 517 pixels at 96 dpi (scaled with the screen's dpi), closed on its first 2000 ms timer tick.
#include <windows.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE) SetTimer(window, 1, 2000, nullptr);
  if (message == WM_TIMER) DestroyWindow(window);
  if (message == WM_DESTROY) PostQuitMessage(0);
  return message == WM_CREATE || message == WM_TIMER ? 0 : DefWindowProcW(window, message, wparam, lparam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  SetProcessDPIAware();
  const WNDCLASSEXW window_class = {sizeof window_class, 0, WindowProc, 0, 0, instance, nullptr,
                                    LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)),  // IDC_ARROW
                                    reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr, L"TavreloBaseline", nullptr};
  if (!RegisterClassExW(&window_class)) return 1;
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  RECT frame = {0, 0, MulDiv(487, dpi, 96), MulDiv(517, dpi, 96)};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
  HWND window = CreateWindowExW(0, L"TavreloBaseline", L"Baseline", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show_command);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
