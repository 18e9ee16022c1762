// The program's entry point: the splash window comes first and its timer
// starts everything else.
#include <windows.h>

#include "launcher/frm_splash_win.h"
#include "launcher/launcher_platform.h"
#include "launcher/mod_main.h"
#include "launcher/paths.h"
#include "launcher/platform_win.h"
#include "launcher/dll_search_win.h"
#include "registry/registry_api_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  using namespace tavrelo;
  RestrictDllSearchToSystem32();
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);

  Win32RegistryApi registry;
  Win32FileSystem files;
  Win32MessageBoxes messages;
  Win32ProcessControl process;
  Win32Clock clock;
  LauncherEnvironment env{registry, files, messages, process, clock,
                          AppFolderFromModulePath(ModulePath())};

  FrmSplash splash(instance, env);
  // Without a splash window the launch still happens, just without the picture.
  if (!splash.Create(show_command)) RunLauncher(env);
  return splash.RunMessageLoop();
}
