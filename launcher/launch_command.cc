#include "launcher/launch_command.h"

namespace tavrelo {
namespace {

constexpr const char16_t* kJarFiles[] = {
    u"comm.jar",
    u"win32com.dll.jar",
    u"jdc.jar",
    u"CDMARostell.jar",
    u"slf4j-log4j12-1.1.0.jar",
    u"slf4j-api-1.1.0.jar",
    u"log4j-1.2.8.jar",
    u"jxl.jar",
    u"slf4j-simple-1.1.0.jar",
    u"swing-layout-1.0.jar",
};

}  // namespace

std::u16string JavaProgram(std::u16string_view java_home) {
  if (java_home.empty()) return u"java ";
  std::u16string program = u"\"";
  program += java_home;
  program += u"\\bin\\java.exe\" ";
  return program;
}

std::u16string ClassPathOption(std::u16string_view app_folder) {
  std::u16string option = u"-classpath ";
  for (const char16_t* jar : kJarFiles) {
    option += u'"';
    option += app_folder;
    option += u"\\RostellCDMA\\lib\\";
    option += jar;
    option += u"\";";
  }
  option += u'"';
  option += app_folder;
  option += u"\\RostellCDMA\" ";
  return option;
}

std::u16string LaunchCommand(std::u16string_view java_home, std::u16string_view app_folder) {
  return JavaProgram(java_home) + ClassPathOption(app_folder) + kMainClass;
}

bool IsQuotableFolder(std::u16string_view folder) {
  return folder.find_first_of(std::u16string_view(u"\"\0", 2)) == std::u16string_view::npos;
}

}  // namespace tavrelo
