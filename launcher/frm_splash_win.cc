#include "launcher/frm_splash_win.h"

#include "launcher/exit_codes.h"
#include "launcher/function_address_win.h"
#include "launcher/messages.h"
#include "launcher/mod_main.h"
#include "launcher/resources/resource_ids.h"

namespace tavrelo {
namespace {

constexpr wchar_t kClassName[] = L"TavreloSplash";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 2000;
constexpr COLORREF kBackground = RGB(192, 192, 255);
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;

// The window is laid out in twips (1/1440 inch), so it scales with the DPI.
constexpr int kClientWidthTwips = 7305;
constexpr int kClientHeightTwips = 7755;
constexpr int kImage1HeightTwips = 7740;
constexpr int kTwipsPerInch = 1440;

UniqueIcon LoadAppIcon(HINSTANCE instance, int width_metric, int height_metric) {
  return UniqueIcon(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_TAVRELO), IMAGE_ICON,
                 GetSystemMetrics(width_metric), GetSystemMetrics(height_metric), 0)));
}

// The splash takes no text input, so its thread needs no input method. With
// input methods off before the first window exists, none is attached to the
// window, and nothing that input methods load (text services, COM) is loaded.
// imm32 is already there when the system uses input methods at all; where it
// is not, there is nothing to turn off.
void TurnOffInputMethods() {
  using ImmDisableImeFn = BOOL(WINAPI*)(DWORD);
  auto disable = FunctionAddress<ImmDisableImeFn>(GetModuleHandleW(L"imm32.dll"), "ImmDisableIME");
  if (disable) disable(0);  // 0: the calling thread
}

}  // namespace

FrmSplash::FrmSplash(HINSTANCE instance, LauncherEnvironment& env)
    : instance_(instance), env_(env) {}

FrmSplash::~FrmSplash() {
  if (window_) DestroyWindow(window_);
  if (window_class_) UnregisterClassW(kClassName, instance_);
}

bool FrmSplash::Create(int show_command) {
  TurnOffInputMethods();
  background_.reset(CreateSolidBrush(kBackground));
  big_icon_ = LoadAppIcon(instance_, SM_CXICON, SM_CYICON);
  small_icon_ = LoadAppIcon(instance_, SM_CXSMICON, SM_CYSMICON);
  picture_ = LoadSplashPicture(instance_, IDB_SPLASH);

  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance_;
  window_class.hIcon = big_icon_.get();
  window_class.hIconSm = small_icon_.get();
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  window_class.hbrBackground = static_cast<HBRUSH>(background_.get());
  window_class.lpszClassName = kClassName;
  window_class_ = RegisterClassExW(&window_class);
  if (!window_class_) return false;

  int dpi_x = 96;
  int dpi_y = 96;
  {
    WindowDc screen(nullptr);
    if (screen.get()) {
      dpi_x = GetDeviceCaps(screen.get(), LOGPIXELSX);
      dpi_y = GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
  }
  const int client_width = MulDiv(kClientWidthTwips, dpi_x, kTwipsPerInch);
  const int client_height = MulDiv(kClientHeightTwips, dpi_y, kTwipsPerInch);
  image1_ = {0, 0, client_width, MulDiv(kImage1HeightTwips, dpi_y, kTwipsPerInch)};

  RECT frame = {0, 0, client_width, client_height};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // Centred on the screen, but never with the title bar above its top edge.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  window_ = CreateWindowExW(0, kClassName, Wide(kAppTitle), kStyle, left < 0 ? 0 : left,
                            top < 0 ? 0 : top, width, height, nullptr, nullptr, instance_, this);
  if (!window_) return false;
  ShowWindow(window_, show_command);
  UpdateWindow(window_);
  return true;
}

int FrmSplash::RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return kExitSplashClosed;
}

LRESULT CALLBACK FrmSplash::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<FrmSplash*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<FrmSplash*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  return self->HandleMessage(message, wparam, lparam);
}

LRESULT FrmSplash::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      // Timer1 counts from the window's creation.
      SetTimer(window_, kTimer1, kTimer1Interval, nullptr);
      return 0;
    case WM_TIMER:
      if (wparam == kTimer1 && !launching_) OnTimer1Tick();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_DESTROY: {
      HWND window = window_;
      window_ = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      // Only a close by the user ends the message loop. On the tick the
      // launch sequence shows its message boxes after the window is gone, and
      // a pending quit message would make each of them return at once.
      if (!launching_) PostQuitMessage(kExitSplashClosed);
      return 0;
    }
    default:
      return DefWindowProcW(window_, message, wparam, lparam);
  }
}

void FrmSplash::OnTimer1Tick() {
  launching_ = true;
  KillTimer(window_, kTimer1);
  DestroyWindow(window_);
  // The window and its timer are gone: nothing of the launcher is on screen
  // and the sequence cannot start a second time.
  RunLauncher(env_);
}

void FrmSplash::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  if (dc) {
    DrawStretched(dc, picture_, image1_);
    EndPaint(window_, &paint);
  }
}

}  // namespace tavrelo
