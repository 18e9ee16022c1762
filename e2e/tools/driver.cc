// tavrelo-driver --exe PROGRAM --out RESULT.json [--OPTION VALUE]... (kOptions): starts a program (the
// launcher), watches its windows every 15 ms until it ends, works them on cue and writes what it saw as one
// JSON object. The first visible unowned window that is no dialog is the splash; dialogs ("#32770") are
// message boxes, answered with OK after --dismiss-after-ms (300). Timed actions count from the splash's first
// sight. Measured times come from clocks no stall of the driver moves: the server's stamps of the splash's
// creation and of the program's start and exit, and the driver's own as it closes the splash or presses OK.
// --hold-file keeps a file open for the whole run, as another program reading it (or, with --hold-how write,
// writing it) would.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tool_support.h"

namespace {

constexpr DWORD kPollMs = 15;
constexpr DWORD kPaintWaitMs = 10000;
constexpr wchar_t kOptions[] =
    L" --exe --out --cwd --timeout-ms --dismiss-after-ms --close-at-ms --close-how --minimize-at-ms --maximize-at-ms"
    L" --inspect-at-ms --screenshot --kill-when-file --show-command --hold-file --hold-how ";
constexpr const wchar_t* kActions[] = {L"--minimize-at-ms", L"--maximize-at-ms", L"--inspect-at-ms", L"--close-at-ms"};

std::map<std::wstring, std::wstring> g_options;
std::vector<std::pair<HWND, std::uint64_t>> g_created;  // each window with its creation's system time

std::wstring Option(const wchar_t* name) { return g_options.count(name) ? g_options[name] : L""; }
long long Number(const wchar_t* name, long long fallback = -1) {
  return g_options.count(name) ? _wtoi64(g_options[name].c_str()) : fallback;
}

std::wstring Text(HWND window) {  // as the system stores it: no message is sent
  wchar_t text[4096];
  return std::wstring(text, static_cast<std::size_t>(std::max(0, InternalGetWindowText(window, text, 4096))));
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t found[256] = L"";
  GetClassNameW(window, found, 256);
  return _wcsicmp(found, name) == 0;
}

std::string Rect(const RECT& r) {
  return e2e::Json().Number("left", r.left).Number("top", r.top).Number("width", r.right - r.left)
      .Number("height", r.bottom - r.top).Done();
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// Wine posts this as a window is created, stamped in ms of the clock QueryPerformanceCounter reads.
void CALLBACK NoteCreated(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD event_ms) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const auto age_ms = static_cast<DWORD>(now.QuadPart * 1000 / frequency.QuadPart) - event_ms;
  g_created.emplace_back(window, e2e::PreciseNow() - std::uint64_t{age_ms} * 10000);
}

// A box's caption, text (its first static control with text), buttons left to right, whether an icon
// static holds an icon (Wine keeps an empty one in boxes without), and whether it has an owner.
e2e::Json DescribeBox(HWND box) {
  std::vector<HWND> children;
  EnumChildWindows(box, Collect, reinterpret_cast<LPARAM>(&children));
  std::wstring text;
  bool icon = false;
  std::vector<std::pair<LONG, std::string>> buttons;
  for (HWND child : children) {
    if (GetAncestor(child, GA_PARENT) != box || !IsWindowVisible(child)) continue;
    if (IsClass(child, L"Static") && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      DWORD_PTR held = 0;
      SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 500, &held);
      icon = icon || held;
    } else if (IsClass(child, L"Static") && text.empty()) {
      text = Text(child);
    } else if (IsClass(child, L"Button")) {
      RECT rect;
      GetWindowRect(child, &rect);
      buttons.emplace_back(rect.left, e2e::JsonString(Text(child)));
    }
  }
  std::sort(buttons.begin(), buttons.end());
  std::string list = "[";
  for (const auto& button : buttons) {
    if (list.size() > 1) list += ",";
    list += button.second;
  }
  return e2e::Json().Text("caption", Text(box)).Text("text", text).Raw("buttons", list + "]").Bool("icon", icon)
      .Bool("owner_null", !GetWindow(box, GW_OWNER));
}

// The client area's rows as GDI copies them through the window's own DC: top row first, blue, green and
// red bytes, rows padded to 4 bytes.
bool SaveClientRows(HWND window, const RECT& client, const std::wstring& path) {
  const tavrelo::WindowDc dc(window);
  const tavrelo::UniqueMemoryDc memory(dc.get() ? CreateCompatibleDC(dc.get()) : nullptr);
  BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
  void* bits = nullptr;
  const tavrelo::UniqueGdiObject bitmap(memory ? CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, 0, 0)
                                               : nullptr);
  if (!bitmap || !bits) return false;
  const tavrelo::SelectedObject selected(memory.get(), bitmap.get());
  if (!BitBlt(memory.get(), 0, 0, client.right, client.bottom, dc.get(), 0, 0, SRCCOPY)) return false;
  GdiFlush();
  const std::size_t stride = (static_cast<std::size_t>(client.right) * 3 + 3) & ~std::size_t{3};
  return e2e::WriteToFile(path, std::string(static_cast<const char*>(bits), stride * std::size_t(client.bottom)));
}

std::string Inspect(HWND window) {
  // Painted again (Wine 10 on a busy machine may draw a window's first painting stretched otherwise than all
  // later ones), then until nothing is left to paint and its thread has answered after that: what the program
  // draws is then on screen, however slowly (emulated) it draws.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
  bool painted = false;
  for (const ULONGLONG end = GetTickCount64() + kPaintWaitMs; !painted && GetTickCount64() < end; Sleep(kPollMs)) {
    const bool nothing_to_paint = !GetUpdateRect(window, nullptr, FALSE);
    DWORD_PTR ignored = 0;
    painted = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kPaintWaitMs, &ignored) && nothing_to_paint;
  }
  RECT frame, client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const tavrelo::WindowDc screen(nullptr);
  const std::wstring screenshot = Option(L"--screenshot");
  return e2e::Json().Bool("painted", painted).Text("title", Text(window))
      .Number("style", GetWindowLongW(window, GWL_STYLE) & 0xFFFFFFFFLL)
      .Number("exstyle", GetWindowLongW(window, GWL_EXSTYLE) & 0xFFFFFFFFLL).Bool("minimized", IsIconic(window))
      .Bool("maximized", IsZoomed(window)).Raw("window_rect", Rect(frame))
      .Raw("client_rect", Rect({origin.x, origin.y, origin.x + client.right, origin.y + client.bottom}))
      .Number("screen_width", GetSystemMetrics(SM_CXSCREEN)).Number("screen_height", GetSystemMetrics(SM_CYSCREEN))
      .Number("dpi", GetDeviceCaps(screen.get(), LOGPIXELSY))
      .Bool("screenshot_saved", !screenshot.empty() && !IsIconic(window) && SaveClientRows(window, client, screenshot))
      .Done();
}

struct Box {
  HWND window;
  std::uint64_t seen_time;
  long long seen_ms;
  bool open = true, reposted = false;
  long long dismiss_ms = -1, gone_ms = -1;
  std::uint64_t dismiss_time = 0;
  e2e::Json description = {};
};

struct Run {
  e2e::UniqueKernelHandle process;
  DWORD pid = 0;
  std::uint64_t start = 0, now = 0, creation_time = 0, exit_time = 0, close_time = 0;
  bool killed = false, timed_out = false;
  long long kill_seen_ms = -1;
  HWND splash = nullptr;
  std::uint64_t splash_visible_time = 0, splash_gone_time = 0;
  long long splash_visible_ms = -1, splash_gone_ms = -1;
  std::vector<Box> boxes;
  std::map<std::wstring, bool> done;
  std::string inspection = "null";

  long long Elapsed() const { return static_cast<long long>((now - start) / 10000); }
  void NoteSplashGone() {
    splash_gone_ms = Elapsed();
    splash_gone_time = now;
  }

  // The time, the window creations the hook was told of, and the program's times as the server has them.
  void Sample() {
    now = e2e::PreciseNow();
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(process.get(), &created, &ended, &kernel, &user)) {
      creation_time = e2e::FileTimeValue(created);
      exit_time = e2e::FileTimeValue(ended);
    }
  }

  void Scan() {
    std::vector<HWND> windows;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner != pid || !IsWindowVisible(window)) continue;
      if (IsClass(window, L"#32770")) {
        if (std::none_of(boxes.begin(), boxes.end(), [&](const Box& b) { return b.open && b.window == window; })) {
          boxes.push_back({window, now, Elapsed()});
        }
      } else if (!splash && !GetWindow(window, GW_OWNER)) {
        splash = window;
        splash_visible_time = now;
        splash_visible_ms = Elapsed();
      }
    }
    if (splash && splash_gone_ms < 0 && !IsWindowVisible(splash)) NoteSplashGone();
    for (Box& box : boxes) {
      if (box.open && !IsWindowVisible(box.window)) {
        box.open = false;
        box.gone_ms = Elapsed();
      }
      if (!box.open) continue;
      if (box.dismiss_ms < 0) box.description = DescribeBox(box.window);  // Wine fills it in as it lays it out
      if (box.dismiss_ms < 0 && Elapsed() - box.seen_ms >= Number(L"--dismiss-after-ms", 300)) {
        box.dismiss_ms = Elapsed();
        box.dismiss_time = e2e::PreciseNow();
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(GetDlgItem(box.window, IDOK), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
      } else if (box.dismiss_ms >= 0 && !box.reposted && Elapsed() - box.dismiss_ms > 1000) {
        box.reposted = PostMessageW(box.window, WM_COMMAND, IDOK, 0);  // the click was lost
      }
    }
  }

  // Each action once, when its time after the splash's first sight has come, if the splash is still shown.
  void Act() {
    for (const wchar_t* action : kActions) {
      if (!splash || Number(action) < 0 || done[action] || Elapsed() < splash_visible_ms + Number(action)) continue;
      done[action] = true;
      const std::wstring name = action;
      DWORD_PTR ignored = 0;
      if (!IsWindowVisible(splash)) continue;
      if (name == L"--inspect-at-ms") inspection = Inspect(splash);
      if (name == L"--close-at-ms") {
        close_time = e2e::PreciseNow();
        const bool syscommand = Option(L"--close-how") == L"syscommand";
        PostMessageW(splash, syscommand ? WM_SYSCOMMAND : WM_CLOSE, syscommand ? SC_CLOSE : 0, 0);
      }
      if (name == L"--minimize-at-ms" || name == L"--maximize-at-ms") {  // sent: done when an inspection follows
        SendMessageTimeoutW(splash, WM_SYSCOMMAND, name == L"--minimize-at-ms" ? SC_MINIMIZE : SC_MAXIMIZE, 0,
                            SMTO_NORMAL, kPaintWaitMs, &ignored);
      }
    }
  }

  // Once the kill file has held data for 0.5 s and no box is open.
  bool ShouldKill() {
    WIN32_FILE_ATTRIBUTE_DATA file = {};
    if (kill_seen_ms < 0 && GetFileAttributesExW(Option(L"--kill-when-file").c_str(), GetFileExInfoStandard, &file) &&
        (file.nFileSizeLow || file.nFileSizeHigh)) {
      kill_seen_ms = Elapsed();
    }
    return kill_seen_ms >= 0 && Elapsed() - kill_seen_ms >= 500 &&
           std::none_of(boxes.begin(), boxes.end(), [](const Box& box) { return box.open; });
  }

  std::string Result() {
    DWORD exit_code = 0;
    const bool ended = GetExitCodeProcess(process.get(), &exit_code) && exit_code != STILL_ACTIVE;
    std::string list = "[";
    for (Box& box : boxes) {
      if (list.size() > 1) list += ",";
      list += box.description.Unsigned("seen_time", box.seen_time).Number("seen_ms", box.seen_ms)
          .Number("dismiss_ms", box.dismiss_ms).Unsigned("dismiss_time", box.dismiss_time)
          .Number("gone_ms", box.gone_ms).Done();
    }
    const auto created = std::find_if(g_created.begin(), g_created.end(), [&](auto& c) { return c.first == splash; });
    return e2e::Json().Text("exe", Option(L"--exe")).Number("pid", pid)
        .Raw("exit_code", ended && !killed && !timed_out ? std::to_string(exit_code) : "null").Bool("killed", killed)
        .Bool("timed_out", timed_out).Unsigned("creation_time", creation_time).Unsigned("exit_time", exit_time)
        .Unsigned("exit_seen_time", now)
        .Raw("splash", e2e::Json().Bool("seen", splash).Number("visible_ms", splash_visible_ms)
                           .Unsigned("created_time", created == g_created.end() ? 0 : created->second)
                           .Unsigned("visible_time", splash_visible_time).Unsigned("gone_time", splash_gone_time)
                           .Number("gone_ms", splash_gone_ms).Done())
        .Raw("message_boxes", list + "]").Raw("inspection", inspection)
        .Unsigned("close_time", close_time).Done();
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetProcessDPIAware();  // coordinates and pixels as the screen has them
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 == argc || !wcsstr(kOptions, (L" " + std::wstring(argv[i]) + L" ").c_str())) {
      std::fwprintf(stderr, L"tavrelo-driver: unknown option or missing value: %ls\noptions:%ls\n", argv[i], kOptions);
      return 64;
    }
    g_options[argv[i]] = argv[i + 1];
  }
  std::wstring command_line = L"\"" + Option(L"--exe") + L"\"";
  const std::wstring cwd = Option(L"--cwd");
  // The held file lets others read it, as most programs reading or writing a file do.
  const std::wstring hold = Option(L"--hold-file");
  const DWORD hold_access = Option(L"--hold-how") == L"write" ? GENERIC_WRITE : GENERIC_READ;
  const HANDLE opened =
      hold.empty() ? nullptr : CreateFileW(hold.c_str(), hold_access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
  if (opened == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"tavrelo-driver: cannot hold %ls open: error %lu\n", hold.c_str(), GetLastError());
    return 1;
  }
  const e2e::UniqueKernelHandle held(opened);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = Number(L"--show-command") >= 0 ? STARTF_USESHOWWINDOW : 0;
  startup.wShowWindow = static_cast<WORD>(Number(L"--show-command", 0));
  PROCESS_INFORMATION started = {};
  Run run;
  run.start = run.now = e2e::PreciseNow();
  // Suspended until the hook that stamps its windows' creation is in place.
  if (!CreateProcessW(Option(L"--exe").c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, cwd.empty() ? nullptr : cwd.c_str(), &startup, &started)) {
    const std::string result = e2e::Json().Text("exe", Option(L"--exe")).Number("start_error", GetLastError()).Done();
    return e2e::WriteToFile(Option(L"--out"), result + "\n") ? 0 : 1;
  }
  run.process = e2e::UniqueKernelHandle(started.hProcess);
  const e2e::UniqueKernelHandle thread(started.hThread);
  run.pid = started.dwProcessId;
  SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, NoteCreated, run.pid, 0, WINEVENT_OUTOFCONTEXT);
  run.Sample();  // makes the queue the events go to
  ResumeThread(thread.get());
  while (WaitForSingleObject(run.process.get(), kPollMs) == WAIT_TIMEOUT) {
    run.Sample();
    run.Scan();
    run.Act();
    run.killed = run.ShouldKill();
    run.timed_out = !run.killed && run.Elapsed() > Number(L"--timeout-ms", 60000);
    if (run.killed || run.timed_out) {
      TerminateProcess(run.process.get(), 0xE2E);
      WaitForSingleObject(run.process.get(), 5000);
      break;
    }
  }
  run.Sample();
  if (run.splash && run.splash_gone_ms < 0) run.NoteSplashGone();
  for (Box& box : run.boxes) box.gone_ms = box.open ? run.Elapsed() : box.gone_ms;
  return e2e::WriteToFile(Option(L"--out"), run.Result() + "\n") ? 0 : 1;
}
