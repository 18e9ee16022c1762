// mod_main: the launch sequence, Java runtime discovery and the installation
// of the serial-port support files.
#pragma once

#include <string>

#include "launcher/launcher_platform.h"
#include "registry/reg_value.h"

namespace tavrelo {

// Home folder of the chosen Java runtime, or empty. Written only by
// FindJavaHome, read by RunLauncher.
extern std::u16string JavaHomePath;

inline constexpr char16_t kJavaRuntimesKey[] = u"SOFTWARE\\JavaSoft\\Java Runtime Environment";
inline constexpr char16_t kSupportFolder[] = u"C:\\orvane\\GsmModemJar\\";
inline constexpr std::uint32_t kLingerMilliseconds = 10000;

// Chooses the runtime, starts the Java application hidden in the application
// folder, lingers and ends the process. Every path ends the process.
[[noreturn]] void RunLauncher(LauncherEnvironment& env);

// Sets JavaHomePath to the home folder of the first registered runtime whose
// version reads as 1.5 or more, after installing its support files; leaves it
// empty after a reported failure. Ends the process, after telling the user,
// when no runtime is registered or none is recent enough.
void FindJavaHome(LauncherEnvironment& env);

// Copies each of the four serial-port support files that is missing from the
// runtime under `java_home` out of the support folder. Reports its own
// failures and stops at the first one; files already copied stay.
void CopyCommFiles(LauncherEnvironment& env, const std::u16string& java_home);

// The text form of a "JavaHome" value: text as it is, empty for the empty
// value, decimal digits for an integer, and a byte sequence read pairwise as
// little-endian UTF-16 code units (an odd last byte is ignored).
std::u16string RegValueText(const RegValue& value);

// Starts `command` hidden in `app_folder`; the launcher's own working folder
// is the same again afterwards. Fails when the process cannot start.
Outcome<void> StartApplication(LauncherEnvironment& env, const std::u16string& command);

}  // namespace tavrelo
