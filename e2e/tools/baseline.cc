// The smallest comparable Win32 program: one plain overlapped window with a
// client area of 487 x 517 pixels at 96 dpi (scaled with the screen's dpi),
// closed on its first 2000 ms timer tick. A reference point for measuring
// what the launcher's own splash costs in time and memory. With
// TAVRELO_BASELINE_RECORD set it appends to that file, when it closes, when
// it created and destroyed its window as the system clock had it (FILETIME
// units, the clock of the driver's times), so that the driver's times can be
// checked against the program's own.
#include <windows.h>

#include <cstdint>

namespace {

constexpr wchar_t kClassName[] = L"TavreloBaseline";
constexpr UINT_PTR kTimerId = 1;

// Before and after CreateWindowExW, and after DestroyWindow.
std::uint64_t g_times[3] = {};

std::uint64_t Now() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Appends {"create_begin":..,"create_end":..,"destroy_end":..} as one line,
// without the C++ library, so that the reference stays small.
void WriteRecord() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"TAVRELO_BASELINE_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  static const char* const kNames[] = {"create_begin", "create_end", "destroy_end"};
  char line[256];
  char* out = line;
  for (int i = 0; i < 3; ++i) {
    *out++ = i == 0 ? '{' : ',';
    *out++ = '"';
    for (const char* name = kNames[i]; *name;) *out++ = *name++;
    *out++ = '"';
    *out++ = ':';
    char digits[24];
    int count = 0;
    std::uint64_t value = g_times[i];
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value);
    while (count) *out++ = digits[--count];
  }
  *out++ = '}';
  *out++ = '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(out - line), &written, nullptr);
  CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      SetTimer(window, kTimerId, 2000, nullptr);
      return 0;
    case WM_TIMER:
      if (wparam == kTimerId) {
        KillTimer(window, kTimerId);
        DestroyWindow(window);
        g_times[2] = Now();
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
  g_times[0] = Now();
  HWND window = CreateWindowExW(0, kClassName, L"Baseline", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                nullptr);
  g_times[1] = Now();
  if (!window) return 1;
  ShowWindow(window, show_command);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  WriteRecord();
  return 0;
}
