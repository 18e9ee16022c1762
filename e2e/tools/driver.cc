// tavrelo-driver: starts a program (the launcher), watches it until it ends
// and writes what it saw as one JSON file.
//
// While the program runs the driver polls its top-level windows every 15 ms:
// the first visible unowned window that is not a dialog is taken as the
// splash; dialogs of class "#32770" are message boxes, which are described
// (caption, text, buttons, icon, owner) and dismissed with the OK button
// after --dismiss-after-ms. Timed actions on the splash (close, minimise,
// maximise, inspect, list the loaded modules) count from the moment it was
// first seen visible. The program runs in a job of the driver's, so every
// process it starts is named and its exit code reported too.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "icon_probe.h"
#include "launcher/function_address_win.h"
#include "tool_support.h"

namespace {

constexpr DWORD kPollMilliseconds = 15;
constexpr std::int64_t kDescribeBoxForMs = 100;  // box text is re-read this long after it appears
constexpr std::int64_t kDismissFallbackMs = 1000;
constexpr std::int64_t kKillGraceMs = 500;  // from the kill file's appearance to the kill
constexpr DWORD kPaintWaitMs = 10000;       // longest wait for the splash to finish painting
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
  std::int64_t dismiss_after_ms = 300;
  std::int64_t close_at_ms = -1;
  std::int64_t minimize_at_ms = -1;
  std::int64_t maximize_at_ms = -1;
  std::int64_t inspect_at_ms = -1;
  std::int64_t modules_at_ms = -1;
  std::int64_t show_command = -1;  // >= 0: passed with STARTF_USESHOWWINDOW
};

constexpr wchar_t kUsage[] =
    L"usage: tavrelo-driver --exe PROGRAM --out RESULT.json [--cwd FOLDER] [--timeout-ms N] [--dismiss-after-ms N]\n"
    L"  [--close-at-ms N] [--close-how wmclose|syscommand|altf4] [--minimize-at-ms N] [--maximize-at-ms N]\n"
    L"  [--inspect-at-ms N] [--modules-at-ms N] [--screenshot FILE] [--kill-when-file FILE] [--show-command N]\n";

bool ParseNumber(const wchar_t* text, std::int64_t& value) {
  wchar_t* end = nullptr;
  const long long parsed = std::wcstoll(text, &end, 10);
  if (end == text || *end != L'\0') return false;
  value = parsed;
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error) {
  const std::pair<const wchar_t*, std::int64_t*> numbers[] = {
      {L"--timeout-ms", &options.timeout_ms},         {L"--dismiss-after-ms", &options.dismiss_after_ms},
      {L"--close-at-ms", &options.close_at_ms},       {L"--minimize-at-ms", &options.minimize_at_ms},
      {L"--maximize-at-ms", &options.maximize_at_ms}, {L"--inspect-at-ms", &options.inspect_at_ms},
      {L"--modules-at-ms", &options.modules_at_ms},   {L"--show-command", &options.show_command},
  };
  const std::pair<const wchar_t*, std::wstring*> texts[] = {
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
    for (const auto& [option, target] : numbers) {
      if (name != option) continue;
      if (!ParseNumber(value, *target)) {
        error = L"not a number for " + name + L": " + value;
        return false;
      }
      known = true;
    }
    for (const auto& [option, target] : texts) {
      if (name != option) continue;
      *target = value;
      known = true;
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

bool Shown(HWND window) { return IsWindow(window) && IsWindowVisible(window); }

bool IsClass(const std::wstring& class_name, const wchar_t* wanted) {
  return _wcsicmp(class_name.c_str(), wanted) == 0;
}

// EnumWindows and EnumChildWindows callback: collects every window handed in.
BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
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

struct MessageBoxRecord {
  HWND window = nullptr;
  bool open = true;
  std::uint64_t seen_time = 0;
  std::int64_t seen_ms = 0;
  std::int64_t gone_ms = -1;
  std::int64_t dismiss_ms = -1;
  std::uint64_t dismiss_time = 0;
  bool dismiss_fallback = false;
  bool foreground = false;
  bool owner_null = true;
  std::wstring caption;
  std::wstring text;
  bool icon = false;
  std::vector<std::wstring> buttons;
};

// Reads what the box shows, from its own visible controls (deeper
// descendants are left out). The message text is the first static control
// with text; an icon counts only when an icon static holds an icon, since
// Wine keeps an empty one in boxes without an icon. Buttons are listed left
// to right.
void DescribeBox(MessageBoxRecord& box) {
  box.caption = StoredWindowText(box.window);
  box.owner_null = GetWindow(box.window, GW_OWNER) == nullptr;
  box.text.clear();
  box.icon = false;
  std::vector<HWND> children;
  EnumChildWindows(box.window, CollectWindow, reinterpret_cast<LPARAM>(&children));
  std::vector<std::pair<LONG, std::wstring>> buttons;  // left edge, text
  for (HWND child : children) {
    if (GetAncestor(child, GA_PARENT) != box.window || !IsWindowVisible(child)) continue;
    const std::wstring class_name = WindowClass(child);
    const bool is_static = IsClass(class_name, L"Static");
    if (is_static && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      DWORD_PTR icon = 0;
      SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 500, &icon);
      box.icon = box.icon || icon != 0;
    } else if (is_static && box.text.empty()) {
      box.text = StoredWindowText(child);
    } else if (IsClass(class_name, L"Button")) {
      RECT rect = {};
      GetWindowRect(child, &rect);
      buttons.emplace_back(rect.left, StoredWindowText(child));
    }
  }
  std::stable_sort(buttons.begin(), buttons.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  box.buttons.clear();
  for (auto& button : buttons) box.buttons.push_back(std::move(button.second));
}

std::string BoxJson(const MessageBoxRecord& box) {
  std::vector<std::string> buttons;
  for (const std::wstring& text : box.buttons) buttons.push_back(e2e::JsonString(text));
  return e2e::JsonObject()
      .Text("caption", box.caption)
      .Text("text", box.text)
      .Raw("buttons", e2e::JsonArray(buttons))
      .Bool("icon", box.icon)
      .Bool("owner_null", box.owner_null)
      .Bool("foreground", box.foreground)
      .Unsigned("seen_time", box.seen_time)
      .Number("seen_ms", box.seen_ms)
      .Number("dismiss_ms", box.dismiss_ms)
      .Unsigned("dismiss_time", box.dismiss_time)
      .Number("gone_ms", box.gone_ms)
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

std::string ErrorJson(const wchar_t* what, DWORD error) {
  return e2e::JsonObject().Text("error", what).Unsigned("code", error).Finish();
}

std::string ProbeIcons(HWND window) {
  const std::wstring self = e2e::ModuleFileName(nullptr);
  const std::wstring probe_path = self.substr(0, self.find_last_of(L"\\/") + 1) + L"icon-probe.dll";
  const tavrelo::UniqueModule probe(LoadLibraryW(probe_path.c_str()));
  if (!probe) return ErrorJson(L"icon-probe.dll not loaded", GetLastError());
  auto hook_proc = tavrelo::FunctionAddress<HOOKPROC>(probe.get(), e2e::kIconProbeHookName);
  if (!hook_proc) return ErrorJson(L"hook function missing", GetLastError());

  const DWORD pid = GetCurrentProcessId();
  e2e::UniqueKernelHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                     e2e::kIconProbeBytes, e2e::IconProbeMappingName(pid).c_str()));
  e2e::UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, e2e::IconProbeEventName(pid).c_str()));
  if (!mapping || !done) return ErrorJson(L"shared block not created", GetLastError());

  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  const UniqueHook hook(SetWindowsHookExW(WH_GETMESSAGE, hook_proc, probe.get(), thread));
  if (!hook) return ErrorJson(L"hook not installed", GetLastError());
  const UINT message = RegisterWindowMessageW(e2e::kIconProbeMessage);
  if (!PostMessageW(window, message, pid, 0)) return ErrorJson(L"probe message not posted", GetLastError());
  if (WaitForSingleObject(done.get(), 3000) != WAIT_OBJECT_0) return ErrorJson(L"no answer from the probe", 0);

  const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(e2e::IconProbeBlock));
  if (!view) return ErrorJson(L"shared block not readable", GetLastError());
  const auto* block = static_cast<const e2e::IconProbeBlock*>(view);
  std::string text(block->text, std::min<std::size_t>(block->length, sizeof block->text));
  UnmapViewOfFile(view);
  return text;
}

// --- the inspected splash ---------------------------------------------------

// The rows of WINDOW's client area as GDI copies them through the window's
// own DC, whichever process drew it: top row first, blue, green and red bytes
// per pixel, each row padded to a multiple of 4 bytes. The reader knows the
// size from the client area. Through the window's DC the system itself maps
// the client area to the pixels it shows, so the copy needs no screen
// coordinates: Wine 10 shows a maximised window whose frame reaches past the
// screen's edges a frame's width away from where its window rectangle says.
bool CaptureClientRows(HWND window, const RECT& client, std::string& rows) {
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return false;
  const tavrelo::WindowDc window_dc(window);
  const tavrelo::UniqueMemoryDc memory(window_dc.get() ? CreateCompatibleDC(window_dc.get()) : nullptr);
  if (!memory) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const tavrelo::UniqueGdiObject bitmap(CreateDIBSection(window_dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return false;
  const tavrelo::SelectedObject selected(memory.get(), bitmap.get());
  if (!BitBlt(memory.get(), 0, 0, width, height, window_dc.get(), client.left, client.top, SRCCOPY)) {
    return false;
  }
  GdiFlush();
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  rows.assign(static_cast<const char*>(bits), stride * static_cast<std::size_t>(height));
  return true;
}

// Waits until WINDOW has no part left to paint and its thread is not painting:
// an inspection then sees what the program drew, however long drawing takes
// (emulated 32-bit code stretches a picture much more slowly). The update
// region is read before a message round trip to the window's thread, so a
// paint already under way when it was read empty has ended when the round
// trip returns. False when that did not happen within kPaintWaitMs.
bool WaitUntilPainted(HWND window) {
  const ULONGLONG deadline = GetTickCount64() + kPaintWaitMs;
  while (GetTickCount64() < deadline) {
    const bool nothing_to_paint = !GetUpdateRect(window, nullptr, FALSE);
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kPaintWaitMs, &ignored)) return false;
    if (nothing_to_paint) return true;
    Sleep(kPollMilliseconds);
  }
  return false;
}

std::string InspectWindow(HWND window, const std::wstring& screenshot_path) {
  const bool painted = WaitUntilPainted(window);
  RECT window_rect = {};
  RECT client = {};
  GetWindowRect(window, &window_rect);
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const RECT client_screen = {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
  const bool iconic = IsIconic(window) != FALSE;

  e2e::JsonObject out;
  out.Bool("painted", painted)
      .Text("title", StoredWindowText(window))
      .Unsigned("style", static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)))
      .Unsigned("exstyle", static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)))
      .Bool("minimized", iconic)
      .Bool("maximized", IsZoomed(window) != FALSE)
      .Raw("window_rect", RectJson(window_rect))
      .Raw("client_rect", RectJson(client_screen))
      .Number("screen_width", GetSystemMetrics(SM_CXSCREEN))
      .Number("screen_height", GetSystemMetrics(SM_CYSCREEN));
  if (const tavrelo::WindowDc screen(nullptr); screen.get()) {
    out.Number("dpi", GetDeviceCaps(screen.get(), LOGPIXELSY));
  }
  if (!screenshot_path.empty()) {
    // The client area: what the program draws. The caption and frame are
    // the system's, and their size differs between systems (and Wines).
    std::string rows;
    const bool saved = !iconic && CaptureClientRows(window, client, rows) && e2e::WriteToFile(screenshot_path, rows);
    out.Bool("screenshot_saved", saved);
    if (saved) out.Raw("captured_rect", RectJson(client_screen));
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
  std::vector<HMODULE> modules(1024);  // far more than a window program loads
  DWORD needed = 0;
  if (!K32EnumProcessModulesEx(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed,
                               LIST_MODULES_ALL)) {
    return ErrorJson(L"modules not listed", GetLastError());
  }
  modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
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

// --- the program's children ------------------------------------------------

// Watches the processes that the program starts: the job's completion port
// names each one as it is created, and a handle opened then keeps its exit
// code readable after it ends. A child that dies during its start-up, before
// the program's CreateProcess returns, is listed too, while the driver opened
// it in time (within one poll).
class ChildWatch {
 public:
  bool Join(HANDLE process) {
    job_ = e2e::UniqueKernelHandle(CreateJobObjectW(nullptr, nullptr));
    port_ = e2e::UniqueKernelHandle(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!job_ || !port_) return false;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job_.get(), port_.get()};
    return SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation, &link, sizeof link) &&
           AssignProcessToJobObject(job_.get(), process);
  }

  void Poll(DWORD program_pid) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED pid = nullptr;
    while (port_ && GetQueuedCompletionStatus(port_.get(), &message, &key, &pid, 0)) {
      const auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pid));
      if (message != JOB_OBJECT_MSG_NEW_PROCESS || id == program_pid) continue;
      children_.push_back({id, e2e::UniqueKernelHandle(OpenProcess(
                                   SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id))});
    }
  }

  std::string Json() const {
    std::vector<std::string> list;
    for (const Child& child : children_) {
      e2e::JsonObject out;
      out.Unsigned("pid", child.pid);
      DWORD exit_code = 0;
      std::wstring image(32768, L'\0');
      DWORD length = static_cast<DWORD>(image.size());
      if (!child.process) {
        out.Text("error", L"ended before the driver could open it");
      } else {
        image.resize(QueryFullProcessImageNameW(child.process.get(), 0, image.data(), &length) ? length : 0);
        out.Text("image", image);
        const bool ended = GetExitCodeProcess(child.process.get(), &exit_code) && exit_code != STILL_ACTIVE;
        out.Raw("exit_code", ended ? std::to_string(exit_code) : "null");
      }
      list.push_back(out.Finish());
    }
    return e2e::JsonArray(list);
  }

 private:
  struct Child {
    DWORD pid;
    e2e::UniqueKernelHandle process;
  };
  e2e::UniqueKernelHandle job_;
  e2e::UniqueKernelHandle port_;
  std::vector<Child> children_;
};

// --- times that no stall of the driver moves --------------------------------

// Wine's server records when a process starts and ends (GetProcessTimes) and
// posts the driver an event as a window is created, stamped in ms of its
// monotonic clock, which QueryPerformanceCounter reads (GetTickCount lags by up
// to 16 ms): g_created holds each window with its creation's system time.
std::vector<std::pair<HWND, std::uint64_t>> g_created;

void CALLBACK NoteCreated(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD event_ms) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const auto age_ms = static_cast<DWORD>(now.QuadPart * 1000 / frequency.QuadPart) - event_ms;
  g_created.emplace_back(window, e2e::PreciseNow() - std::uint64_t{age_ms} * 10000);
}

void ReadPostedEvents() {
  for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
}

// --- the run ----------------------------------------------------------------

struct Action {
  const char* name;
  std::int64_t at_ms;
  bool settled = false;  // done, or skipped because the splash was gone by then
  std::int64_t done_ms = -1;
};

class Driver {
 public:
  explicit Driver(const Options& options) : options_(options) {
    const Action wanted[] = {{"minimize", options.minimize_at_ms},
                             {"maximize", options.maximize_at_ms},
                             {"inspect", options.inspect_at_ms},
                             {"modules", options.modules_at_ms},
                             {"close", options.close_at_ms}};
    for (const Action& action : wanted) {
      if (action.at_ms >= 0) actions_.push_back(action);
    }
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
    // Started suspended, so that it is in the job before it can start anything.
    if (!CreateProcessW(options_.exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, options_.cwd.empty() ? nullptr : options_.cwd.c_str(), &startup, &started)) {
      start_error_ = GetLastError();
      return Write() ? 0 : 1;
    }
    process_ = e2e::UniqueKernelHandle(started.hProcess);
    e2e::UniqueKernelHandle thread(started.hThread);
    pid_ = started.dwProcessId;
    watching_children_ = children_.Join(process_.get());
    SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, NoteCreated, pid_, 0, WINEVENT_OUTOFCONTEXT);
    ReadPostedEvents();  // makes sure the queue the events go to exists
    ResumeThread(thread.get());

    now_ = e2e::PreciseNow();
    for (;;) {
      const DWORD waited = WaitForSingleObject(process_.get(), kPollMilliseconds);
      now_ = e2e::PreciseNow();
      ReadPostedEvents();
      SampleCounters();
      children_.Poll(pid_);
      if (waited != WAIT_TIMEOUT) break;
      ScanWindows();
      NoteGone(false);
      RunActions();
      HandleBoxes();
      killed_ = ShouldKill();
      timed_out_ = !killed_ && Elapsed() > options_.timeout_ms;
      if (killed_ || timed_out_) {
        TerminateProcess(process_.get(), kKilledExitCode);
        WaitForSingleObject(process_.get(), 5000);
        now_ = e2e::PreciseNow();
        break;
      }
    }
    NoteGone(true);
    SampleCounters();
    children_.Poll(pid_);
    return Write() ? 0 : 1;
  }

 private:
  std::int64_t Elapsed() const { return static_cast<std::int64_t>((now_ - start_time_) / 10000); }

  // The peak memory is read while the program runs: once it has ended, Wine
  // no longer has it. The times are read once more at the end, for the exit.
  void SampleCounters() {
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(process_.get(), &created, &ended, &kernel, &user)) {
      creation_time_ = e2e::FileTimeValue(created);
      exit_time_ = e2e::FileTimeValue(ended);
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(process_.get(), &memory, sizeof memory)) {
      peak_working_set_ = std::max<std::uint64_t>(peak_working_set_, memory.PeakWorkingSetSize);
    }
  }

  void ScanWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    const HWND foreground = GetForegroundWindow();
    for (HWND window : windows) {
      DWORD owner_pid = 0;
      GetWindowThreadProcessId(window, &owner_pid);
      if (owner_pid != pid_ || !IsWindowVisible(window)) continue;
      if (WindowClass(window) == L"#32770") {
        NoteBox(window, foreground);
      } else if (!splash_ && GetWindow(window, GW_OWNER) == nullptr) {
        splash_ = window;
        splash_visible_time_ = now_;
        splash_visible_ms_ = Elapsed();
      }
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

  // Notes when the splash and the boxes stopped being shown (destroyed or
  // hidden); once the program has ENDED, whatever it showed went with it.
  void NoteGone(bool ended) {
    if (splash_ && splash_gone_ms_ < 0 && (ended || !Shown(splash_))) {
      splash_gone_ms_ = Elapsed();
      splash_gone_time_ = now_;
    } else if (splash_gone_ms_ < 0) {
      splash_shown_time_ = now_;  // still shown after this time
    }
    for (MessageBoxRecord& box : boxes_) {
      if (box.open && (ended || !Shown(box.window))) {
        box.open = false;
        box.gone_ms = Elapsed();
      }
    }
  }

  void HandleBoxes() {
    for (MessageBoxRecord& box : boxes_) {
      if (!box.open || Elapsed() - box.seen_ms < options_.dismiss_after_ms) continue;
      if (box.dismiss_ms < 0) {
        DescribeBox(box);
        box.dismiss_ms = Elapsed();
        box.dismiss_time = e2e::PreciseNow();
        PressOk(box.window);
      } else if (!box.dismiss_fallback && Elapsed() - box.dismiss_ms > kDismissFallbackMs) {
        box.dismiss_fallback = true;
        PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      }
    }
  }

  // True once the kill file has held data for kKillGraceMs and no box is open.
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
    const bool box_open =
        std::any_of(boxes_.begin(), boxes_.end(), [](const MessageBoxRecord& box) { return box.open; });
    return Elapsed() - kill_file_seen_ms_ >= kKillGraceMs && !box_open;
  }

  void RunActions() {
    if (!splash_) return;
    for (Action& action : actions_) {
      if (action.settled || Elapsed() - splash_visible_ms_ < action.at_ms) continue;
      action.settled = true;
      if (!Shown(splash_)) continue;
      action.done_ms = Elapsed();
      const std::string_view name = action.name;
      if (name == "close") {
        Close();
      } else if (name == "minimize" || name == "maximize") {
        // Sent, not posted: it returns once the window is minimised or
        // maximised, so that an inspection after it never finds it not yet
        // changed or half done (maximised already, but still at its old
        // size), as under load it did.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(splash_, WM_SYSCOMMAND, name == "minimize" ? SC_MINIMIZE : SC_MAXIMIZE, 0, SMTO_NORMAL,
                            kPaintWaitMs, &ignored);
      } else if (name == "inspect") {
        inspection_ = InspectWindow(splash_, options_.screenshot);
      } else if (name == "modules") {
        modules_ = ModulesJson(process_.get());
      }
    }
  }

  void Close() {
    close_time_ = e2e::PreciseNow();
    if (options_.close_how == L"wmclose") {
      PostMessageW(splash_, WM_CLOSE, 0, 0);
    } else if (options_.close_how == L"syscommand") {
      PostMessageW(splash_, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      // Alt+F4 goes to the focused window: bring the splash forward first.
      SetForegroundWindow(splash_);
      Sleep(50);
      close_was_foreground_ = GetForegroundWindow() == splash_;
      close_time_ = e2e::PreciseNow();
      const WORD keys[] = {VK_MENU, VK_F4, VK_F4, VK_MENU};  // both pressed, then both released
      INPUT inputs[4] = {};
      for (int i = 0; i < 4; ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = keys[i];
        inputs[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
      }
      SendInput(4, inputs, sizeof(INPUT));
    }
  }

  bool Write() const {
    e2e::JsonObject out;
    out.Text("exe", options_.exe);
    if (start_error_ != 0) {
      out.Unsigned("start_error", start_error_);
      return e2e::WriteToFile(options_.out, out.Finish() + "\n");
    }
    DWORD exit_code = 0;
    const bool have_exit_code = GetExitCodeProcess(process_.get(), &exit_code) && exit_code != STILL_ACTIVE;
    out.Unsigned("pid", pid_)
        .Raw("exit_code", have_exit_code && !killed_ && !timed_out_ ? std::to_string(exit_code) : "null")
        .Bool("killed", killed_)
        .Bool("timed_out", timed_out_)
        .Unsigned("creation_time", creation_time_)
        .Unsigned("exit_time", exit_time_)
        .Unsigned("exit_seen_time", now_)
        .Unsigned("peak_working_set", peak_working_set_);

    e2e::JsonObject splash;
    splash.Bool("seen", splash_ != nullptr);
    if (splash_) {
      const auto created = std::find_if(g_created.begin(), g_created.end(),
                                        [this](const auto& window) { return window.first == splash_; });
      splash.Unsigned("created_time", created == g_created.end() ? 0 : created->second)
          .Unsigned("visible_time", splash_visible_time_)
          .Number("visible_ms", splash_visible_ms_)
          .Unsigned("shown_time", splash_shown_time_)
          .Unsigned("gone_time", splash_gone_time_)
          .Number("gone_ms", splash_gone_ms_);
    }
    std::vector<std::string> boxes;
    for (const MessageBoxRecord& box : boxes_) boxes.push_back(BoxJson(box));
    // Each action's time in ms since the start, -1 when it did not run.
    e2e::JsonObject actions;
    for (const Action& action : actions_) actions.Number(action.name, action.done_ms);
    out.Raw("splash", splash.Finish())
        .Raw("message_boxes", e2e::JsonArray(boxes))
        .Raw("actions", actions.Finish())
        .Raw("inspection", inspection_.empty() ? "null" : inspection_)
        .Raw("modules", modules_.empty() ? "null" : modules_)
        .Raw("children", watching_children_ ? children_.Json() : "null");
    out.Unsigned("close_time", close_time_);
    if (options_.close_how == L"altf4") out.Bool("close_was_foreground", close_was_foreground_);
    return e2e::WriteToFile(options_.out, out.Finish() + "\n");
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
  std::uint64_t peak_working_set_ = 0;
  bool killed_ = false;
  bool timed_out_ = false;
  std::int64_t kill_file_seen_ms_ = -1;
  HWND splash_ = nullptr;
  std::uint64_t splash_visible_time_ = 0;
  std::int64_t splash_visible_ms_ = -1;
  std::uint64_t splash_shown_time_ = 0;
  std::uint64_t splash_gone_time_ = 0;
  std::int64_t splash_gone_ms_ = -1;
  std::uint64_t close_time_ = 0;
  bool close_was_foreground_ = false;
  std::vector<MessageBoxRecord> boxes_;
  ChildWatch children_;
  bool watching_children_ = false;
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
