#include "launcher/launch_command.h"

#include <gtest/gtest.h>

namespace tavrelo {
namespace {

std::u16string ExpectedClassPath(const std::u16string& app) {
  std::u16string lib = u"\"" + app + u"\\RostellCDMA\\lib\\";
  return u"-classpath " + lib + u"comm.jar\";" + lib + u"win32com.dll.jar\";" + lib +
         u"jdc.jar\";" + lib + u"CDMARostell.jar\";" + lib + u"slf4j-log4j12-1.1.0.jar\";" + lib +
         u"slf4j-api-1.1.0.jar\";" + lib + u"log4j-1.2.8.jar\";" + lib + u"jxl.jar\";" + lib +
         u"slf4j-simple-1.1.0.jar\";" + lib + u"swing-layout-1.0.jar\";\"" + app +
         u"\\RostellCDMA\" ";
}

TEST(LaunchCommandTest, RuntimeUnderAFolderWithSpacesIsQuoted) {
  const std::u16string app = u"C:\\Program Files\\Tavrelo";
  const std::u16string home = u"C:\\Program Files\\Java\\jre1.6.0_03";
  EXPECT_EQ(LaunchCommand(home, app), u"\"C:\\Program Files\\Java\\jre1.6.0_03\\bin\\java.exe\" " +
                                          ExpectedClassPath(app) + u"CDMA.Frame11");
}

TEST(LaunchCommandTest, NoRuntimeFolderUsesJavaFromTheSearchPath) {
  const std::u16string app = u"D:\\Apps\\Tavrelo";
  EXPECT_EQ(LaunchCommand(u"", app), u"java " + ExpectedClassPath(app) + u"CDMA.Frame11");
}

TEST(LaunchCommandTest, DriveRootKeepsItsBackslashSoTheSeparatorIsDoubled) {
  const std::u16string command = LaunchCommand(u"", u"E:\\");
  EXPECT_NE(command.find(u"\"E:\\\\RostellCDMA\\lib\\comm.jar\";"), std::u16string::npos);
  EXPECT_TRUE(command.ends_with(u";\"E:\\\\RostellCDMA\" CDMA.Frame11"));
  EXPECT_EQ(command, u"java " + ExpectedClassPath(u"E:\\") + u"CDMA.Frame11");
}

TEST(LaunchCommandTest, UncAndNonAsciiFoldersAreCopiedVerbatim) {
  const std::u16string app = u"\\\\server\\share\\Z\u00FCrich \u65E5\u672C";
  EXPECT_EQ(ClassPathOption(app), ExpectedClassPath(app));
}

TEST(LaunchCommandTest, FoldersWithQuotesOrNulsCannotBeQuoted) {
  EXPECT_TRUE(IsQuotableFolder(u"C:\\Program Files\\Java"));
  EXPECT_TRUE(IsQuotableFolder(u""));
  EXPECT_FALSE(IsQuotableFolder(u"C:\\x\" -jar evil.jar \""));
  EXPECT_FALSE(IsQuotableFolder(std::u16string(u"C:\\jre\0x", 8)));
}

}  // namespace
}  // namespace tavrelo
