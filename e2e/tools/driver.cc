// tavrelo-driver: starts a program (the launcher), watches it until it ends
// and writes what it saw as one JSON file.
//
// While the program runs the driver polls its top-level windows every 15 ms:
// the first visible unowned window that is not a dialog is taken as the
// splash; dialogs of class "#32770" are message boxes, which are described
// (caption, text, buttons, icon, owner) and dismissed with the OK button
// after --dismiss-after-ms. Timed actions on the splash (close, minimise,
// maximise, click, inspect, list the loaded modules) count from the moment it
// was first seen visible.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "icon_probe.h"
#include "launcher/function_address_win.h"
#include "screen_image.h"
#include "tool_support.h"

namespace {

constexpr DWORD kPollMilliseconds = 15;
constexpr std::int64_t kDescribeBoxForMs = 100;  // box text is re-read this long after it appears
constexpr std::int64_t kDismissFallbackMs = 1000;
constexpr UINT kKilledExitCode = 0xE2E;
constexpr int kUsageExitCode = 64;

struct Options {
  std::wstring exe;
  std::wstring cwd;
  std::wstring out;
  std::wstring screenshot;
  std::wstring kill_when_file;
  std::wstring close_how = L"wmclose";
  std::int64_t timeout_ms = 60000;
  std::int64_t dismiss_after_ms = 300;  // negative: boxes are left open
  std::int64_t close_at_ms = -1;
  std::int64_t minimize_at_ms = -1;
  std::int64_t maximize_at_ms = -1;
  std::int64_t click_at_ms = -1;
  std::int64_t inspect_at_ms = -1;
  std::int64_t modules_at_ms = -1;
  std::int64_t kill_grace_ms = 500;
  std::int64_t show_command = -1;  // >= 0: passed with STARTF_USESHOWWINDOW
};

constexpr wchar_t kUsage[] =
    L"usage: tavrelo-driver --exe PROGRAM --out RESULT.json [--cwd FOLDER] [--timeout-ms N]\n"
    L"  [--dismiss-after-ms N|-1] [--close-at-ms N] [--close-how wmclose|syscommand|altf4]\n"
    L"  [--minimize-at-ms N] [--maximize-at-ms N] [--click-at-ms N] [--inspect-at-ms N] [--modules-at-ms N]\n"
    L"  [--screenshot FILE.bmp] [--kill-when-file FILE] [--kill-grace-ms N] [--show-command N]\n";

bool ParseNumber(const wchar_t* text, std::int64_t& value) {
  wchar_t* end = nullptr;
  const long long parsed = std::wcstoll(text, &end, 10);
  if (end == text || *end != L'\0') return false;
  value = parsed;
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error) {
  struct NumberOption {
    const wchar_t* name;
    std::int64_t* target;
  };
  const NumberOption numbers[] = {
      {L"--timeout-ms", &options.timeout_ms},         {L"--dismiss-after-ms", &options.dismiss_after_ms},
      {L"--close-at-ms", &options.close_at_ms},       {L"--minimize-at-ms", &options.minimize_at_ms},
      {L"--maximize-at-ms", &options.maximize_at_ms}, {L"--click-at-ms", &options.click_at_ms},
      {L"--inspect-at-ms", &options.inspect_at_ms},   {L"--kill-grace-ms", &options.kill_grace_ms},
      {L"--show-command", &options.show_command},     {L"--modules-at-ms", &options.modules_at_ms},
  };
  struct TextOption {
    const wchar_t* name;
    std::wstring* target;
  };
  const TextOption texts[] = {
      {L"--exe", &options.exe},
      {L"--cwd", &options.cwd},
      {L"--out", &options.out},
      {L"--screenshot", &options.screenshot},
      {L"--kill-when-file", &options.kill_when_file},
      {L"--close-how", &options.close_how},
  };
  for (int i = 1; i < argc; i += 2) {
    const std::wstring name = argv[i];
    if (i + 1 >= argc) {
      error = L"missing value for " + name;
      return false;
    }
    const wchar_t* value = argv[i + 1];
    bool known = false;
    for (const NumberOption& option : numbers) {
      if (name == option.name) {
        if (!ParseNumber(value, *option.target)) {
          error = L"not a number for " + name + L": " + value;
          return false;
        }
        known = true;
      }
    }
    for (const TextOption& option : texts) {
      if (name == option.name) {
        *option.target = value;
        known = true;
      }
    }
    if (!known) {
      error = L"unknown option " + name;
      return false;
    }
  }
  if (options.exe.empty() || options.out.empty()) {
    error = L"--exe and --out are required";
    return false;
  }
  if (options.close_how != L"wmclose" && options.close_how != L"syscommand" && options.close_how != L"altf4") {
    error = L"--close-how must be wmclose, syscommand or altf4";
    return false;
  }
  return true;
}

std::wstring WindowClass(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// The window's text as the system stores it: no message is sent, so a busy
// or dying window cannot stall the driver.
std::wstring StoredWindowText(HWND window) {
  std::vector<wchar_t> text(4096);
  const int length = InternalGetWindowText(window, text.data(), static_cast<int>(text.size()));
  return std::wstring(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string RectJson(const RECT& rect) {
  return e2e::JsonObject()
      .Number("left", rect.left)
      .Number("top", rect.top)
      .Number("right", rect.right)
      .Number("bottom", rect.bottom)
      .Number("width", rect.right - rect.left)
      .Number("height", rect.bottom - rect.top)
      .Finish();
}

// --- message boxes ---------------------------------------------------------

struct BoxControl {
  int id = 0;
  std::wstring class_name;
  std::wstring text;
  LONG style = 0;
  bool visible = false;
  bool has_icon = false;
  RECT rect = {};
};

struct MessageBoxRecord {
  HWND window = nullptr;
  bool open = true;
  std::uint64_t seen_time = 0;
  std::int64_t seen_ms = 0;
  std::int64_t gone_ms = -1;
  std::int64_t dismiss_ms = -1;
  bool dismiss_fallback = false;
  bool foreground = false;
  bool owner_null = true;
  std::wstring caption;
  std::wstring text;
  int text_control_id = -1;
  bool icon = false;
  std::vector<std::wstring> buttons;
  std::vector<BoxControl> controls;
};

struct ChildScan {
  HWND box;
  std::vector<BoxControl>* controls;
};

// The box's own controls, in z-order; deeper descendants are left out.
BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
  auto* scan = reinterpret_cast<ChildScan*>(context);
  if (GetAncestor(child, GA_PARENT) != scan->box) return TRUE;
  BoxControl control;
  control.id = GetDlgCtrlID(child);
  control.class_name = WindowClass(child);
  control.text = StoredWindowText(child);
  control.style = GetWindowLongW(child, GWL_STYLE);
  control.visible = IsWindowVisible(child) != FALSE;
  GetWindowRect(child, &control.rect);
  if (_wcsicmp(control.class_name.c_str(), L"Static") == 0 && (control.style & SS_TYPEMASK) == SS_ICON) {
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 500, &icon);
    control.has_icon = icon != 0;
  }
  scan->controls->push_back(std::move(control));
  return TRUE;
}

// Reads what the box shows. The message text is the visible static text
// control (Wine gives it id 0xFFFF, as Windows does); an icon counts only
// when an icon static is visible and holds an icon, since Wine keeps an
// empty one in boxes without an icon. Buttons are listed left to right.
void DescribeBox(MessageBoxRecord& box) {
  box.caption = StoredWindowText(box.window);
  box.owner_null = GetWindow(box.window, GW_OWNER) == nullptr;
  box.controls.clear();
  ChildScan scan{box.window, &box.controls};
  EnumChildWindows(box.window, CollectChild, reinterpret_cast<LPARAM>(&scan));
  box.text.clear();
  box.text_control_id = -1;
  box.icon = false;
  std::vector<const BoxControl*> buttons;
  for (const BoxControl& control : box.controls) {
    if (!control.visible) continue;
    const bool is_static = _wcsicmp(control.class_name.c_str(), L"Static") == 0;
    if (is_static && (control.style & SS_TYPEMASK) == SS_ICON) {
      box.icon = box.icon || control.has_icon;
    } else if (is_static && box.text_control_id < 0 && !control.text.empty()) {
      box.text = control.text;
      box.text_control_id = control.id;
    } else if (_wcsicmp(control.class_name.c_str(), L"Button") == 0) {
      buttons.push_back(&control);
    }
  }
  std::stable_sort(buttons.begin(), buttons.end(),
                   [](const BoxControl* a, const BoxControl* b) { return a->rect.left < b->rect.left; });
  box.buttons.clear();
  for (const BoxControl* button : buttons) box.buttons.push_back(button->text);
}

std::string BoxJson(const MessageBoxRecord& box) {
  std::vector<std::string> buttons;
  for (const std::wstring& text : box.buttons) buttons.push_back(e2e::JsonString(text));
  std::vector<std::string> controls;
  for (const BoxControl& control : box.controls) {
    controls.push_back(e2e::JsonObject()
                           .Number("id", control.id)
                           .Text("class", control.class_name)
                           .Text("text", control.text)
                           .Unsigned("style", static_cast<DWORD>(control.style))
                           .Bool("visible", control.visible)
                           .Bool("has_icon", control.has_icon)
                           .Finish());
  }
  return e2e::JsonObject()
      .Text("caption", box.caption)
      .Text("text", box.text)
      .Number("text_control_id", box.text_control_id)
      .Raw("buttons", e2e::JsonArray(buttons))
      .Bool("icon", box.icon)
      .Bool("owner_null", box.owner_null)
      .Bool("foreground", box.foreground)
      .Unsigned("seen_time", box.seen_time)
      .Number("seen_ms", box.seen_ms)
      .Number("dismiss_ms", box.dismiss_ms)
      .Bool("dismiss_fallback", box.dismiss_fallback)
      .Number("gone_ms", box.gone_ms)
      .Bool("open_at_end", box.open)
      .Raw("controls", e2e::JsonArray(controls))
      .Finish();
}

// Presses OK as a user would; a box without a button with id IDOK gets its
// first visible button pressed.
void PressOk(HWND box) {
  HWND button = GetDlgItem(box, IDOK);
  if (!button || !IsWindowVisible(button)) {
    button = nullptr;
    for (HWND child = FindWindowExW(box, nullptr, L"Button", nullptr); child;
         child = FindWindowExW(box, child, L"Button", nullptr)) {
      if (IsWindowVisible(child)) {
        button = child;
        break;
      }
    }
  }
  if (button) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
  } else {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

// --- icons, through icon-probe.dll ------------------------------------------

struct HookTraits {
  static HHOOK Invalid() { return nullptr; }
  static void Close(HHOOK hook) { UnhookWindowsHookEx(hook); }
};
using UniqueHook = tavrelo::UniqueHandle<HHOOK, HookTraits>;

std::string ErrorJson(const char* what, DWORD error) {
  return e2e::JsonObject().Text("error", e2e::Widen(what)).Unsigned("code", error).Finish();
}

std::string ProbeIcons(HWND window) {
  const std::wstring self = e2e::ModuleFileName(nullptr);
  const std::wstring probe_path = self.substr(0, self.find_last_of(L"\\/") + 1) + L"icon-probe.dll";
  const tavrelo::UniqueModule probe(LoadLibraryW(probe_path.c_str()));
  if (!probe) return ErrorJson("icon-probe.dll not loaded", GetLastError());
  auto hook_proc = tavrelo::FunctionAddress<HOOKPROC>(probe.get(), e2e::kIconProbeHookName);
  if (!hook_proc) return ErrorJson("hook function missing", GetLastError());

  const DWORD pid = GetCurrentProcessId();
  e2e::UniqueKernelHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, e2e::kIconProbeBytes,
                                               e2e::IconProbeMappingName(pid).c_str()));
  e2e::UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, e2e::IconProbeEventName(pid).c_str()));
  if (!mapping || !done) return ErrorJson("shared block not created", GetLastError());

  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  const UniqueHook hook(SetWindowsHookExW(WH_GETMESSAGE, hook_proc, probe.get(), thread));
  if (!hook) return ErrorJson("hook not installed", GetLastError());
  const UINT message = RegisterWindowMessageW(e2e::kIconProbeMessage);
  if (!PostMessageW(window, message, pid, 0)) return ErrorJson("probe message not posted", GetLastError());
  if (WaitForSingleObject(done.get(), 3000) != WAIT_OBJECT_0) return ErrorJson("no answer from the probe", 0);

  const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(e2e::IconProbeBlock));
  if (!view) return ErrorJson("shared block not readable", GetLastError());
  const auto* block = static_cast<const e2e::IconProbeBlock*>(view);
  std::string text(block->text, std::min<std::size_t>(block->length, sizeof block->text));
  UnmapViewOfFile(view);
  return text;
}

// --- the inspected splash ---------------------------------------------------

std::string ColourJson(bool valid, COLORREF colour) {
  if (!valid) return "null";
  char text[16];
  std::snprintf(text, sizeof text, "\"%02X%02X%02X\"", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

std::string InspectWindow(HWND window, const std::wstring& screenshot_path) {
  RECT window_rect = {};
  RECT client = {};
  GetWindowRect(window, &window_rect);
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const RECT client_screen = {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
  const bool iconic = IsIconic(window) != FALSE;

  e2e::JsonObject out;
  out.Text("title", StoredWindowText(window))
      .Text("class", WindowClass(window))
      .Unsigned("style", static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)))
      .Unsigned("exstyle", static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)))
      .Bool("visible", IsWindowVisible(window) != FALSE)
      .Bool("minimized", iconic)
      .Bool("maximized", IsZoomed(window) != FALSE)
      .Bool("foreground", GetForegroundWindow() == window)
      .Raw("window_rect", RectJson(window_rect))
      .Raw("client_rect", RectJson(client_screen))
      .Number("screen_width", GetSystemMetrics(SM_CXSCREEN))
      .Number("screen_height", GetSystemMetrics(SM_CYSCREEN));
  if (const tavrelo::WindowDc screen(nullptr); screen.get()) {
    out.Number("dpi", GetDeviceCaps(screen.get(), LOGPIXELSY));
  }

  // The whole window as it is on the screen; the samples are taken from the
  // same capture, in client coordinates.
  // Only the part on the screen can be copied (a maximised window's frame
  // reaches past the edges).
  const RECT screen_rect = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                            GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                            GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  RECT visible_rect = {};
  e2e::ScreenImage image;
  const bool captured =
      !iconic && IntersectRect(&visible_rect, &window_rect, &screen_rect) && image.Capture(visible_rect);
  out.Bool("captured", captured);
  if (captured) out.Raw("captured_rect", RectJson(visible_rect));
  const int width = client.right;
  const int height = client.bottom;
  std::vector<std::string> bottom_row;
  if (captured && width > 0 && height > 0) {
    const int xs[] = {0, width / 4, width / 2, (3 * width) / 4, width - 1};
    for (int x : xs) {
      COLORREF colour = 0;
      const bool valid = image.Pixel(origin.x + x, origin.y + height - 1, colour);
      bottom_row.push_back(e2e::JsonObject().Number("x", x).Raw("rgb", ColourJson(valid, colour)).Finish());
    }
    struct Point {
      const char* name;
      int x;
      int y;
    };
    const Point points[] = {{"picture_corner", 2, 2}, {"picture_centre", width / 2, height / 2},
                            {"bottom_right", width - 3, height - 3}};
    for (const Point& point : points) {
      COLORREF colour = 0;
      const bool valid = image.Pixel(origin.x + point.x, origin.y + point.y, colour);
      out.Raw(point.name, e2e::JsonObject()
                              .Number("x", point.x)
                              .Number("y", point.y)
                              .Raw("rgb", ColourJson(valid, colour))
                              .Finish());
    }
  }
  out.Raw("bottom_row", e2e::JsonArray(bottom_row));
  if (!screenshot_path.empty()) {
    const bool saved = captured && image.SaveRows(screenshot_path);
    out.Text("screenshot", saved ? screenshot_path : L"").Bool("screenshot_saved", saved);
  }
  out.Raw("icons", ProbeIcons(window));
  return out.Finish();
}

// --- loaded modules ---------------------------------------------------------

// The lower-case base names of the modules loaded in PROCESS, read from its
// loader list. Only a driver of the program's own bitness reads a 32-bit
// process's list whole, so the result tells whether the two match.
std::string ModulesJson(HANDLE process) {
  BOOL driver_wow64 = FALSE;
  BOOL program_wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &driver_wow64);
  IsWow64Process(process, &program_wow64);
  std::vector<HMODULE> modules(128);
  for (;;) {
    const auto bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
    DWORD needed = 0;
    if (!K32EnumProcessModulesEx(process, modules.data(), bytes, &needed, LIST_MODULES_ALL)) {
      return ErrorJson("modules not listed", GetLastError());
    }
    const std::size_t count = needed / sizeof(HMODULE);
    const bool complete = needed <= bytes;
    modules.resize(count);
    if (complete) break;
  }
  std::vector<std::string> names;
  for (HMODULE module : modules) {
    wchar_t name[MAX_PATH] = {};
    const DWORD length = K32GetModuleBaseNameW(process, module, name, MAX_PATH);
    if (length == 0) continue;
    CharLowerBuffW(name, length);
    names.push_back(e2e::JsonString(std::wstring_view(name, length)));
  }
  return e2e::JsonObject()
      .Bool("same_bitness", driver_wow64 == program_wow64)
      .Raw("names", e2e::JsonArray(names))
      .Finish();
}

// --- input ------------------------------------------------------------------

void SendKeys(std::initializer_list<std::pair<WORD, bool>> keys) {
  std::vector<INPUT> inputs;
  for (const auto& [key, down] : keys) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void ClickAt(POINT point) {
  SetCursorPos(point.x, point.y);
  INPUT inputs[2] = {};
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].type = INPUT_MOUSE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
}

// --- the run ----------------------------------------------------------------

struct Action {
  const char* name = "";
  std::int64_t at_ms = 0;
  bool done = false;
  bool skipped = false;
  std::int64_t done_ms = -1;
};

struct SeenWindow {
  HWND window;
  std::wstring class_name;
  std::wstring title;
  std::int64_t seen_ms;
};

class Driver {
 public:
  explicit Driver(const Options& options) : options_(options) {
    if (options.close_at_ms >= 0) AddAction("close", options.close_at_ms);
    if (options.minimize_at_ms >= 0) AddAction("minimize", options.minimize_at_ms);
    if (options.maximize_at_ms >= 0) AddAction("maximize", options.maximize_at_ms);
    if (options.click_at_ms >= 0) AddAction("click", options.click_at_ms);
    if (options.inspect_at_ms >= 0) AddAction("inspect", options.inspect_at_ms);
    if (options.modules_at_ms >= 0) AddAction("modules", options.modules_at_ms);
    std::stable_sort(actions_.begin(), actions_.end(),
                     [](const Action& a, const Action& b) { return a.at_ms < b.at_ms; });
  }

  int Run() {
    std::wstring command_line = L"\"" + options_.exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (options_.show_command >= 0) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = static_cast<WORD>(options_.show_command);
    }
    PROCESS_INFORMATION started = {};
    start_time_ = e2e::PreciseNow();
    if (!CreateProcessW(options_.exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        options_.cwd.empty() ? nullptr : options_.cwd.c_str(), &startup, &started)) {
      start_error_ = GetLastError();
      return Write() ? 0 : 1;
    }
    process_ = e2e::UniqueKernelHandle(started.hProcess);
    e2e::UniqueKernelHandle thread(started.hThread);
    pid_ = started.dwProcessId;

    for (;;) {
      const DWORD waited = WaitForSingleObject(process_.get(), kPollMilliseconds);
      now_ = e2e::PreciseNow();
      SampleCounters();
      if (waited != WAIT_TIMEOUT) break;
      ScanWindows();
      RunActions();
      HandleBoxes();
      if (ShouldKill()) {
        TerminateProcess(process_.get(), kKilledExitCode);
        WaitForSingleObject(process_.get(), 5000);
        killed_ = true;
        now_ = e2e::PreciseNow();
        break;
      }
      if (Elapsed() > options_.timeout_ms) {
        TerminateProcess(process_.get(), kKilledExitCode);
        WaitForSingleObject(process_.get(), 5000);
        timed_out_ = true;
        now_ = e2e::PreciseNow();
        break;
      }
    }
    exit_seen_time_ = now_;
    for (MessageBoxRecord& box : boxes_) {
      if (box.open && !IsWindow(box.window)) {
        box.open = false;
        box.gone_ms = Elapsed();
      }
    }
    if (splash_ && splash_gone_ms_ < 0) {
      splash_gone_ms_ = Elapsed();
      splash_gone_time_ = now_;
    }
    SampleCounters();
    return Write() ? 0 : 1;
  }

 private:
  void AddAction(const char* name, std::int64_t at_ms) {
    Action action;
    action.name = name;
    action.at_ms = at_ms;
    actions_.push_back(action);
  }

  std::int64_t Elapsed() const { return static_cast<std::int64_t>((now_ - start_time_) / 10000); }
  std::int64_t SinceSplash() const { return Elapsed() - splash_visible_ms_; }

  // CPU time and peak memory are taken while the program runs: once it has
  // ended, Wine no longer has the numbers.
  void SampleCounters() {
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(process_.get(), &created, &ended, &kernel, &user)) {
      creation_time_ = e2e::FileTimeValue(created);
      exit_time_ = e2e::FileTimeValue(ended);
      kernel_time_ = std::max(kernel_time_, e2e::FileTimeValue(kernel));
      user_time_ = std::max(user_time_, e2e::FileTimeValue(user));
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(process_.get(), &memory, sizeof memory)) {
      peak_working_set_ = std::max<std::uint64_t>(peak_working_set_, memory.PeakWorkingSetSize);
    }
  }

  struct ScanContext {
    DWORD pid;
    std::vector<HWND> windows;
  };

  static BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
    auto* scan = reinterpret_cast<ScanContext*>(context);
    DWORD owner_pid = 0;
    GetWindowThreadProcessId(window, &owner_pid);
    if (owner_pid == scan->pid) scan->windows.push_back(window);
    return TRUE;
  }

  void ScanWindows() {
    ScanContext scan{pid_, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&scan));
    const HWND foreground = GetForegroundWindow();
    for (HWND window : scan.windows) {
      if (!IsWindowVisible(window)) continue;
      const std::wstring class_name = WindowClass(window);
      if (class_name == L"#32770") {
        NoteBox(window, foreground);
        continue;
      }
      if (!splash_ && GetWindow(window, GW_OWNER) == nullptr) {
        splash_ = window;
        splash_visible_time_ = now_;
        splash_visible_ms_ = Elapsed();
        splash_class_ = class_name;
        splash_title_ = StoredWindowText(window);
      }
      const bool known = std::any_of(seen_.begin(), seen_.end(), [&](const SeenWindow& w) { return w.window == window; });
      if (!known) seen_.push_back({window, class_name, StoredWindowText(window), Elapsed()});
    }
    if (splash_ && splash_gone_ms_ < 0 && (!IsWindow(splash_) || !IsWindowVisible(splash_))) {
      splash_gone_ms_ = Elapsed();
      splash_gone_time_ = now_;
    }
  }

  void NoteBox(HWND window, HWND foreground) {
    for (MessageBoxRecord& box : boxes_) {
      if (box.open && box.window == window) {
        if (foreground == window) box.foreground = true;
        if (Elapsed() - box.seen_ms <= kDescribeBoxForMs) DescribeBox(box);
        return;
      }
    }
    MessageBoxRecord box;
    box.window = window;
    box.seen_time = now_;
    box.seen_ms = Elapsed();
    box.foreground = foreground == window;
    DescribeBox(box);
    boxes_.push_back(std::move(box));
  }

  void HandleBoxes() {
    for (MessageBoxRecord& box : boxes_) {
      if (!box.open) continue;
      if (!IsWindow(box.window) || !IsWindowVisible(box.window)) {
        box.open = false;
        box.gone_ms = Elapsed();
        continue;
      }
      const std::int64_t age = Elapsed() - box.seen_ms;
      if (options_.dismiss_after_ms < 0 || age < options_.dismiss_after_ms) continue;
      if (box.dismiss_ms < 0) {
        DescribeBox(box);
        box.dismiss_ms = Elapsed();
        PressOk(box.window);
      } else if (!box.dismiss_fallback && Elapsed() - box.dismiss_ms > kDismissFallbackMs) {
        box.dismiss_fallback = true;
        PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      }
    }
  }

  bool AnyBoxOpen() const {
    return std::any_of(boxes_.begin(), boxes_.end(), [](const MessageBoxRecord& box) { return box.open; });
  }

  bool ShouldKill() {
    if (options_.kill_when_file.empty()) return false;
    if (kill_file_seen_ms_ < 0) {
      WIN32_FILE_ATTRIBUTE_DATA data = {};
      if (GetFileAttributesExW(options_.kill_when_file.c_str(), GetFileExInfoStandard, &data) &&
          (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0)) {
        kill_file_seen_ms_ = Elapsed();
      }
      return false;
    }
    return Elapsed() - kill_file_seen_ms_ >= options_.kill_grace_ms && !AnyBoxOpen();
  }

  void RunActions() {
    if (!splash_) return;
    for (Action& action : actions_) {
      if (action.done || action.skipped || SinceSplash() < action.at_ms) continue;
      if (!IsWindow(splash_) || !IsWindowVisible(splash_)) {
        action.skipped = true;
        continue;
      }
      action.done = true;
      action.done_ms = Elapsed();
      const std::string name = action.name;
      if (name == "close") {
        Close();
      } else if (name == "minimize") {
        PostMessageW(splash_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      } else if (name == "maximize") {
        PostMessageW(splash_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
      } else if (name == "click") {
        RECT client = {};
        GetClientRect(splash_, &client);
        POINT centre = {client.right / 2, client.bottom / 2};
        ClientToScreen(splash_, &centre);
        ClickAt(centre);
      } else if (name == "inspect") {
        inspection_ = InspectWindow(splash_, options_.screenshot);
      } else if (name == "modules") {
        modules_ = ModulesJson(process_.get());
      }
    }
  }

  void Close() {
    if (options_.close_how == L"wmclose") {
      PostMessageW(splash_, WM_CLOSE, 0, 0);
    } else if (options_.close_how == L"syscommand") {
      PostMessageW(splash_, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      // Alt+F4 goes to the focused window: bring the splash forward first.
      SetForegroundWindow(splash_);
      Sleep(50);
      close_was_foreground_ = GetForegroundWindow() == splash_;
      SendKeys({{VK_MENU, true}, {VK_F4, true}, {VK_F4, false}, {VK_MENU, false}});
    }
  }

  bool Write() const {
    e2e::JsonObject out;
    out.Text("exe", options_.exe).Text("cwd", options_.cwd).Unsigned("start_time", start_time_);
    if (start_error_ != 0) {
      out.Unsigned("start_error", start_error_);
      return e2e::WriteWholeFile(options_.out, out.Finish() + "\n");
    }
    DWORD exit_code = 0;
    const bool have_exit_code = GetExitCodeProcess(process_.get(), &exit_code) && exit_code != STILL_ACTIVE;
    out.Unsigned("pid", pid_)
        .Raw("exit_code", have_exit_code && !killed_ && !timed_out_ ? std::to_string(exit_code) : "null")
        .Bool("killed", killed_)
        .Bool("timed_out", timed_out_)
        .Unsigned("creation_time", creation_time_)
        .Unsigned("exit_time", exit_time_)
        .Unsigned("exit_seen_time", exit_seen_time_)
        .Number("exit_seen_ms", static_cast<std::int64_t>((exit_seen_time_ - start_time_) / 10000))
        .Unsigned("user_time", user_time_)
        .Unsigned("kernel_time", kernel_time_)
        .Unsigned("peak_working_set", peak_working_set_)
        .Number("kill_file_seen_ms", kill_file_seen_ms_);

    e2e::JsonObject splash;
    splash.Bool("seen", splash_ != nullptr);
    if (splash_) {
      splash.Text("class", splash_class_)
          .Text("title", splash_title_)
          .Unsigned("visible_time", splash_visible_time_)
          .Number("visible_ms", splash_visible_ms_)
          .Unsigned("gone_time", splash_gone_time_)
          .Number("gone_ms", splash_gone_ms_);
    }
    out.Raw("splash", splash.Finish());

    std::vector<std::string> boxes;
    for (const MessageBoxRecord& box : boxes_) boxes.push_back(BoxJson(box));
    out.Raw("message_boxes", e2e::JsonArray(boxes));

    std::vector<std::string> windows;
    for (const SeenWindow& window : seen_) {
      windows.push_back(e2e::JsonObject()
                            .Text("class", window.class_name)
                            .Text("title", window.title)
                            .Number("seen_ms", window.seen_ms)
                            .Finish());
    }
    out.Raw("windows", e2e::JsonArray(windows));

    std::vector<std::string> actions;
    for (const Action& action : actions_) {
      actions.push_back(e2e::JsonObject()
                            .Text("name", e2e::Widen(action.name))
                            .Number("at_ms", action.at_ms)
                            .Bool("done", action.done)
                            .Bool("skipped", action.skipped)
                            .Number("done_ms", action.done_ms)
                            .Finish());
    }
    out.Raw("actions", e2e::JsonArray(actions));
    if (options_.close_how == L"altf4" && options_.close_at_ms >= 0) {
      out.Bool("close_was_foreground", close_was_foreground_);
    }
    out.Raw("inspection", inspection_.empty() ? "null" : inspection_);
    out.Raw("modules", modules_.empty() ? "null" : modules_);
    return e2e::WriteWholeFile(options_.out, out.Finish() + "\n");
  }

  const Options& options_;
  std::vector<Action> actions_;
  e2e::UniqueKernelHandle process_;
  DWORD pid_ = 0;
  DWORD start_error_ = 0;
  std::uint64_t start_time_ = 0;
  std::uint64_t now_ = 0;
  std::uint64_t creation_time_ = 0;
  std::uint64_t exit_time_ = 0;
  std::uint64_t exit_seen_time_ = 0;
  std::uint64_t user_time_ = 0;
  std::uint64_t kernel_time_ = 0;
  std::uint64_t peak_working_set_ = 0;
  bool killed_ = false;
  bool timed_out_ = false;
  std::int64_t kill_file_seen_ms_ = -1;
  HWND splash_ = nullptr;
  std::wstring splash_class_;
  std::wstring splash_title_;
  std::uint64_t splash_visible_time_ = 0;
  std::int64_t splash_visible_ms_ = -1;
  std::uint64_t splash_gone_time_ = 0;
  std::int64_t splash_gone_ms_ = -1;
  bool close_was_foreground_ = false;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<SeenWindow> seen_;
  std::string inspection_;
  std::string modules_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Coordinates and pixels are wanted as the screen has them, unscaled.
  SetProcessDPIAware();
  Options options;
  std::wstring error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fwprintf(stderr, L"tavrelo-driver: %ls\n%ls", error.c_str(), kUsage);
    return kUsageExitCode;
  }
  Driver driver(options);
  const int result = driver.Run();
  if (result != 0) std::fwprintf(stderr, L"tavrelo-driver: could not write %ls\n", options.out.c_str());
  return result;
}
