#include "launcher/mod_main.h"

#include <cstdlib>

#include "common/failure.h"
#include "common/text.h"
#include "launcher/exit_codes.h"
#include "launcher/java_version.h"
#include "launcher/launch_command.h"
#include "launcher/messages.h"
#include "registry/mregistry.h"

namespace tavrelo {

std::u16string JavaHomePath;

namespace {

// ERROR_INVALID_NAME: the number a malformed path gets from the system.
constexpr std::uint32_t kErrorInvalidName = 123;

struct CommFile {
  const char16_t* present_path;  // relative to the runtime's home folder
  const char16_t* file_name;     // in the support folder
  const char16_t* target_folder; // relative to the runtime's home folder
};

constexpr CommFile kCommFiles[] = {
    {u"\\lib\\ext\\Comm.jar", u"Comm.jar", u"\\lib\\ext\\"},
    {u"\\lib\\javax.comm.properties", u"javax.comm.properties", u"\\lib\\"},
    {u"\\bin\\Win32com.dll", u"Win32com.dll", u"\\bin\\"},
    {u"\\lib\\ext\\jdc.jar", u"jdc.jar", u"\\lib\\ext\\"},
};

// Shows a failure's own description, then the procedure's fixed text.
void ReportFailure(LauncherEnvironment& env, const Failure& failure,
                   const char16_t* procedure_text) {
  env.messages.Show(failure.description());
  env.messages.Show(procedure_text);
}

// The body of CopyCommFiles: the first failure abandons the row in progress
// and every later row.
Outcome<void> CopyMissingCommFiles(LauncherEnvironment& env, const std::u16string& java_home) {
  for (const CommFile& row : kCommFiles) {
    if (env.files.FileExists(java_home + row.present_path)) continue;
    Outcome<void> copied = env.files.CopyFileOverwrite(
        std::u16string(kSupportFolder) + row.file_name,
        java_home + row.target_folder + row.file_name);
    if (!copied.ok()) return copied;
  }
  return {};
}

// The body of FindJavaHome: the chosen runtime's home folder (empty when its
// "JavaHome" value is empty), or the failure that abandoned the search. Ends
// the process itself when no runtime, or none recent enough, is registered.
Outcome<std::u16string> ChosenJavaHome(LauncherEnvironment& env) {
  if (!RegKeyExists(env.registry, kHkeyLocalMachine, kJavaRuntimesKey)) {
    env.messages.Show(kJavaNotInstalledMessage);
    env.process.EndProcess(kExitJavaNotInstalled);
  }
  const SubKeyList versions = RegEnumSubKeys(env.registry, kHkeyLocalMachine, kJavaRuntimesKey);
  const std::u16string* chosen = nullptr;
  for (const std::u16string& name : versions) {
    const Outcome<bool> supported = IsSupportedJavaVersion(name);
    if (!supported.ok()) return supported.failure();
    if (supported.value()) {
      chosen = &name;
      break;
    }
  }
  if (chosen == nullptr) {
    env.messages.Show(kJavaTooOldMessage);
    env.process.EndProcess(kExitJavaTooOld);
  }
  const Outcome<RegValue> java_home = ReadRegValue(
      env.registry, kHkeyLocalMachine, std::u16string(kJavaRuntimesKey) + u"\\" + *chosen,
      u"JavaHome");
  if (!java_home.ok()) return java_home.failure();
  return RegValueText(java_home.value());
}

}  // namespace

std::u16string RegValueText(const RegValue& value) {
  if (const auto* text = std::get_if<std::u16string>(&value)) return *text;
  if (const auto* number = std::get_if<std::int32_t>(&value)) return SignedDecimalText(*number);
  if (const auto* bytes = std::get_if<RegBytes>(&value)) {
    std::u16string text;
    text.reserve(bytes->size() / 2);
    for (std::size_t i = 0; i + 1 < bytes->size(); i += 2) {
      text.push_back(static_cast<char16_t>((*bytes)[i] | ((*bytes)[i + 1] << 8)));
    }
    return text;
  }
  return {};
}

void CopyCommFiles(LauncherEnvironment& env, const std::u16string& java_home) {
  const Outcome<void> copied = CopyMissingCommFiles(env, java_home);
  if (!copied.ok()) ReportFailure(env, copied.failure(), kCopyFailedMessage);
}

void FindJavaHome(LauncherEnvironment& env) {
  JavaHomePath.clear();
  const Outcome<std::u16string> java_home = ChosenJavaHome(env);
  if (!java_home.ok()) {
    ReportFailure(env, java_home.failure(), kSearchFailedMessage);
    return;
  }
  if (!java_home.value().empty()) {
    JavaHomePath = java_home.value();
    CopyCommFiles(env, JavaHomePath);
  }
}

Outcome<void> StartApplication(LauncherEnvironment& env, const std::u16string& command) {
  // A folder name that cannot be quoted would let the rest of the command
  // line be read as a different program or arguments: refuse to start it.
  if (!IsQuotableFolder(JavaHomePath)) {
    return Failure(kErrorInvalidName, env.process.DescribeError(kErrorInvalidName));
  }
  // The child gets the application folder as its working folder explicitly,
  // which also holds when that folder is on another drive. The launcher's own
  // working folder is switched there and back around the start as well, and
  // is the saved one again afterwards.
  const std::u16string saved = env.process.CurrentDirectory();
  env.process.ChangeDirectory(env.app_folder);
  const std::uint32_t error = env.process.StartHidden(command, env.app_folder);
  env.process.ChangeDirectory(saved);
  if (error != 0) return Failure(error, env.process.DescribeError(error));
  return {};
}

void RunLauncher(LauncherEnvironment& env) {
  FindJavaHome(env);
  const Outcome<void> started = StartApplication(env, LaunchCommand(JavaHomePath, env.app_folder));
  if (!started.ok()) {
    std::u16string text = kStartFailedMessage;
    text += u"\r\n\r\nError ";
    text += DecimalText(started.failure().number());
    text += u": ";
    text += started.failure().description();
    env.messages.Show(text);
    env.process.EndProcess(kExitStartFailed);
  }
  env.clock.Sleep(kLingerMilliseconds);
  env.process.EndProcess(kExitLaunched);
  std::abort();  // not reached: EndProcess does not return
}

}  // namespace tavrelo
