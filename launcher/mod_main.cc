#include "launcher/mod_main.h"

#include <cstdlib>
#include <new>

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
void ReportFailure(LauncherEnvironment& env, const std::u16string& description,
                   const char16_t* procedure_text) {
  env.messages.Show(description);
  env.messages.Show(procedure_text);
}

std::u16string OutOfMemoryText() { return u"Out of memory"; }

}  // namespace

std::u16string RegValueText(const RegValue& value) {
  if (const auto* text = std::get_if<std::u16string>(&value)) return *text;
  if (const auto* number = std::get_if<std::int32_t>(&value)) return DecimalText(*number);
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
  try {
    for (const CommFile& row : kCommFiles) {
      if (env.files.FileExists(java_home + row.present_path)) continue;
      env.files.CopyFileOverwrite(std::u16string(kSupportFolder) + row.file_name,
                                  java_home + row.target_folder + row.file_name);
    }
  } catch (const Failure& failure) {
    ReportFailure(env, failure.description(), kCopyFailedMessage);
  } catch (const std::bad_alloc&) {
    ReportFailure(env, OutOfMemoryText(), kCopyFailedMessage);
  }
}

void FindJavaHome(LauncherEnvironment& env) {
  try {
    JavaHomePath.clear();
    if (!RegKeyExists(env.registry, kHkeyLocalMachine, kJavaRuntimesKey)) {
      env.messages.Show(kJavaNotInstalledMessage);
      env.process.EndProcess(kExitJavaNotInstalled);
    }
    const SubKeyList versions = RegEnumSubKeys(env.registry, kHkeyLocalMachine, kJavaRuntimesKey);
    const std::u16string* chosen = nullptr;
    for (const std::u16string& name : versions) {
      if (IsSupportedJavaVersion(name)) {
        chosen = &name;
        break;
      }
    }
    if (chosen == nullptr) {
      env.messages.Show(kJavaTooOldMessage);
      env.process.EndProcess(kExitJavaTooOld);
    }
    const std::u16string java_home = RegValueText(ReadRegValue(
        env.registry, kHkeyLocalMachine, std::u16string(kJavaRuntimesKey) + u"\\" + *chosen,
        u"JavaHome"));
    if (!java_home.empty()) {
      JavaHomePath = java_home;
      CopyCommFiles(env, java_home);
    }
  } catch (const Failure& failure) {
    ReportFailure(env, failure.description(), kSearchFailedMessage);
    JavaHomePath.clear();
  } catch (const std::bad_alloc&) {
    ReportFailure(env, OutOfMemoryText(), kSearchFailedMessage);
    JavaHomePath.clear();
  }
}

void StartApplication(LauncherEnvironment& env, const std::u16string& command) {
  // A folder name that cannot be quoted would let the rest of the command
  // line be read as a different program or arguments: refuse to start it.
  if (!IsQuotableFolder(JavaHomePath)) {
    throw Failure(kErrorInvalidName, env.process.DescribeError(kErrorInvalidName));
  }
  // The child gets the application folder as its working folder explicitly,
  // which also holds when that folder is on another drive. The launcher's own
  // working folder is switched there and back around the start as well, and
  // is the saved one again afterwards.
  const std::u16string saved = env.process.CurrentDirectory();
  env.process.ChangeDirectory(env.app_folder);
  const std::uint32_t error = env.process.StartHidden(command, env.app_folder);
  env.process.ChangeDirectory(saved);
  if (error != 0) throw Failure(error, env.process.DescribeError(error));
}

void RunLauncher(LauncherEnvironment& env) {
  FindJavaHome(env);
  try {
    StartApplication(env, LaunchCommand(JavaHomePath, env.app_folder));
  } catch (const Failure& failure) {
    std::u16string text = kStartFailedMessage;
    text += u"\r\n\r\nError ";
    text += DecimalText(failure.number());
    text += u": ";
    text += failure.description();
    env.messages.Show(text);
    env.process.EndProcess(kExitStartFailed);
  }
  env.clock.Sleep(kLingerMilliseconds);
  env.process.EndProcess(kExitLaunched);
  std::abort();  // not reached: EndProcess does not return
}

}  // namespace tavrelo
