// Exit codes of the launcher's process.
#pragma once

namespace tavrelo {

inline constexpr int kExitLaunched = 0;             // the Java application was started
inline constexpr int kExitSplashClosed = 1;         // the user closed the splash early
inline constexpr int kExitStartFailed = 2;          // the Java application could not start
inline constexpr int kExitJavaNotInstalled = 3;     // no runtime key in the registry
inline constexpr int kExitJavaTooOld = 4;           // no runtime of version 1.5 or later

}  // namespace tavrelo
