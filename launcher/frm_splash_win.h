// frmSplash: the splash window shown while the launcher starts. Its timer
// Timer1 fires once, 2000 ms after the window is created; the tick destroys
// the window and then runs the launch sequence.
#pragma once

#include <windows.h>

#include "launcher/launcher_platform.h"
#include "launcher/splash_picture_win.h"
#include "launcher/win_handles.h"

namespace tavrelo {

class FrmSplash {
 public:
  FrmSplash(HINSTANCE instance, LauncherEnvironment& env);
  ~FrmSplash();
  FrmSplash(const FrmSplash&) = delete;
  FrmSplash& operator=(const FrmSplash&) = delete;

  // Creates the window centred on the screen and shows it with `show_command`.
  bool Create(int show_command);
  // Runs the message loop until the user closes the window before the tick;
  // returns the exit code for that case.
  int RunMessageLoop();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  [[noreturn]] void OnTimer1Tick();
  void Paint();

  HINSTANCE instance_;
  LauncherEnvironment& env_;
  HWND window_ = nullptr;
  ATOM window_class_ = 0;
  UniqueGdiObject background_;
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  SplashDib picture_;
  RECT image1_ = {0, 0, 0, 0};  // the picture area, fixed at the top left
  bool launching_ = false;
};

}  // namespace tavrelo
