// The command line that starts the Java application.
#pragma once

#include <string>
#include <string_view>

namespace tavrelo {

// The program part: the runtime's java.exe in double quotes, so a folder with
// spaces can never be read as a shorter program name, or "java " from the
// executable search path when no runtime folder is known.
std::u16string JavaProgram(std::u16string_view java_home);

// The class path option: "-classpath " followed by the application's ten jar
// files and its resource folder under `app_folder`, each in double quotes,
// ending in one space.
std::u16string ClassPathOption(std::u16string_view app_folder);

inline constexpr char16_t kMainClass[] = u"CDMA.Frame11";

// JavaProgram + ClassPathOption + the main class.
std::u16string LaunchCommand(std::u16string_view java_home, std::u16string_view app_folder);

// True when `folder` can be put inside double quotes on a command line: it
// holds neither a double quote nor a NUL, which no real folder name contains.
bool IsQuotableFolder(std::u16string_view folder);

}  // namespace tavrelo
