#include "launcher/mod_main.h"

#include <gtest/gtest.h>

#include <optional>

#include "launcher/launch_command.h"
#include "launcher/paths.h"
#include "launcher/whole_copy.h"
#include "tests/fakes/fakes.h"

namespace tavrelo {
namespace {

using namespace std::literals;
using Log = std::vector<std::u16string>;
using Disk = std::map<std::u16string, std::string>;
using testing::Fake;

struct Jre {
  std::string version;
  const char* java_home;  // null: no such value
  long open_error = 0;
};

// The log of a launch, after `boxes`, from the start of the application on.
Log Launched(Log boxes) {
  boxes.insert(boxes.end(), {u"chdir D:\\Apps\\Tavrelo", u"start in D:\\Apps\\Tavrelo",
                             u"chdir C:\\Users\\me", u"sleep 10000", u"end 0"});
  return boxes;
}

TEST(RunLauncherTest, FindsTheRuntimeInstallsItsSupportFilesStartsTheApplicationLingersAndEnds) {
  const char* home = "C:\\Java 5";
  const std::u16string java5 = u"\"C:\\Java 5\\bin\\java.exe\" ";
  const std::u16string search_failed = u"box: Error While Searching JVM on Your Machine";
  const std::u16string too_old =
      u"box: Java Runtime Environment version 1.5 or higher version is not avaiable";
  const std::u16string copy_failed[] = {u"box: The system cannot find the file specified.",
                                        u"box: Error While Copying JAR File"};
  const struct {
    const char* what;
    std::optional<std::vector<Jre>> runtimes;  // the subkeys of the runtimes key, if there is one
    std::u16string program;                    // the command's start; empty: nothing started
    Log log;
    std::uint32_t start_error = 0;
  } rows[] = {
      {"no runtime key", std::nullopt, u"",
       {u"box: You have not Installed Java Runtime Environment on your computer.\r\n"
        u"Download and install Java Runtime Environment Version 1.5 or higher version.\r\n"
        u"Please refer installtion guide of Tavrelo for further help",
        u"end 3"}},
      {"none of 1.5", std::vector<Jre>{{"1.3.1", "C:\\jre13"}, {"1.4.2_08", "C:\\jre14"}}, u"",
       {too_old, u"end 4"}},
      {"no subkeys", std::vector<Jre>{}, u"", {too_old, u"end 4"}},
      {"the first of 1.5 or later",
       std::vector<Jre>{{"1.4.2", "C:\\j142"}, {"1.5", home}, {"1.5.0_06", "C:\\j150"}, {"1.6", "C:\\j16"}},
       java5, Launched({})},
      {"not a number", std::vector<Jre>{{"Beta", "C:\\beta"}, {"1.6", home}}, u"java ",
       Launched({u"box: Type mismatch: the Java runtime version \"Beta\" in the registry does not begin "
                 u"with a version number.",
                 search_failed})},
      {"no JavaHome", std::vector<Jre>{{"1.6", nullptr}}, u"java ",
       Launched({u"box: Unsupported value type", search_failed})},
      {"unreadable runtime key", std::vector<Jre>{{"1.6", home, 5}}, u"java ", Launched({})},
      {"only the properties present", std::vector<Jre>{{"1.6", "C:\\j6"}}, u"\"C:\\j6\\bin\\java.exe\" ",
       Launched({u"copy C:\\orvane\\GsmModemJar\\Comm.jar -> C:\\j6\\lib\\ext\\Comm.jar",
                 u"copy C:\\orvane\\GsmModemJar\\Win32com.dll -> C:\\j6\\bin\\Win32com.dll",
                 u"copy C:\\orvane\\GsmModemJar\\jdc.jar -> C:\\j6\\lib\\ext\\jdc.jar"})},
      {"no support files", std::vector<Jre>{{"1.7", "C:\\j7"}}, u"\"C:\\j7\\bin\\java.exe\" ",
       Launched({u"copy C:\\orvane\\GsmModemJar\\Comm.jar -> C:\\j7\\lib\\ext\\Comm.jar",
                 u"copy C:\\orvane\\GsmModemJar\\javax.comm.properties -> C:\\j7\\lib\\javax.comm.properties",
                 copy_failed[0], copy_failed[1]})},
      {"start fails", std::vector<Jre>{{"1.6", home}}, java5,
       {u"chdir D:\\Apps\\Tavrelo", u"start in D:\\Apps\\Tavrelo", u"chdir C:\\Users\\me",
        u"box: The Java application could not be started.\r\n\r\nError 2: System error 2.", u"end 2"},
       2},
      {"quote in the runtime folder", std::vector<Jre>{{"1.6", "C:\\x\" -jar"}}, u"",
       {u"copy C:\\orvane\\GsmModemJar\\Comm.jar -> C:\\x\" -jar\\lib\\ext\\Comm.jar",
        u"copy C:\\orvane\\GsmModemJar\\javax.comm.properties -> C:\\x\" -jar\\lib\\javax.comm.properties",
        copy_failed[0], copy_failed[1],
        u"box: The Java application could not be started.\r\n\r\nError 123: System error 123.", u"end 2"}},
  };
  // C:\Java 5 holds the four support files, C:\j6 only the properties, the support folder all but them.
  const Disk disk = {{u"C:\\orvane\\GsmModemJar\\Win32com.dll", ""}, {u"C:\\Java 5\\lib\\ext\\Comm.jar", ""},
                     {u"C:\\Java 5\\lib\\javax.comm.properties", ""}, {u"C:\\Java 5\\bin\\Win32com.dll", ""},
                     {u"C:\\Java 5\\lib\\ext\\jdc.jar", ""}, {u"C:\\j6\\lib\\javax.comm.properties", ""},
                     {u"C:\\orvane\\GsmModemJar\\Comm.jar", ""}, {u"C:\\orvane\\GsmModemJar\\jdc.jar", ""}};
  // The command after its program, as the README gives it: the ten jars in its order, the folder, the class.
  const std::u16string arguments =
      uR"(-classpath "D:\Apps\Tavrelo\RostellCDMA\lib\comm.jar";"D:\Apps\Tavrelo\RostellCDMA\lib\win32com.dll.jar";)"
      uR"("D:\Apps\Tavrelo\RostellCDMA\lib\jdc.jar";"D:\Apps\Tavrelo\RostellCDMA\lib\CDMARostell.jar";)"
      uR"("D:\Apps\Tavrelo\RostellCDMA\lib\slf4j-log4j12-1.1.0.jar";)"
      uR"("D:\Apps\Tavrelo\RostellCDMA\lib\slf4j-api-1.1.0.jar";"D:\Apps\Tavrelo\RostellCDMA\lib\log4j-1.2.8.jar";)"
      uR"("D:\Apps\Tavrelo\RostellCDMA\lib\jxl.jar";"D:\Apps\Tavrelo\RostellCDMA\lib\slf4j-simple-1.1.0.jar";)"
      uR"("D:\Apps\Tavrelo\RostellCDMA\lib\swing-layout-1.0.jar";"D:\Apps\Tavrelo\RostellCDMA" CDMA.Frame11)";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Fake fake;
    fake.disk = disk;
    if (row.runtimes) fake.AddKey("SOFTWARE\\JavaSoft\\Java Runtime Environment");
    for (const Jre& jre : row.runtimes.value_or(std::vector<Jre>{})) {
      testing::FakeKey& key = fake.AddKey("SOFTWARE\\JavaSoft\\Java Runtime Environment\\" + jre.version);
      if (jre.java_home != nullptr) key.values["JavaHome"] = {1, jre.java_home + "\0"s};
      key.open_error = jre.open_error;
    }
    fake.start_error = row.start_error;
    JavaHomePath = u"stale";
    LauncherEnvironment env{fake, fake, fake, fake, fake, u"D:\\Apps\\Tavrelo"};
    EXPECT_THROW(RunLauncher(env), int);
    EXPECT_EQ(fake.log, row.log);
    EXPECT_EQ(fake.command, row.program.empty() ? u"" : row.program + arguments);
  }
}

TEST(RegValueTextTest, JavaHomeOfEveryKindBecomesText) {
  EXPECT_EQ(RegValueText(1234), u"1234");
  EXPECT_EQ(RegValueText(-1), u"-1");
  // Byte pairs are little-endian code units; an odd last byte is ignored.
  EXPECT_EQ(RegValueText(RegBytes{'C', 0, ':', 0, 0x2F, 0x20, 'x'}), u"C:\u202F");
}

TEST(PathsTest, FoldersForTheCommandLineAndTheFileFunctions) {
  EXPECT_EQ(AppFolderFromModulePath(u"C:\\Apps\\Tavrelo\\tavrelo.exe"), u"C:\\Apps\\Tavrelo");
  EXPECT_EQ(AppFolderFromModulePath(u"C:\\tavrelo.exe"), u"C:\\");
  EXPECT_EQ(AppFolderFromModulePath(u"\\\\server\\share\\tavrelo.exe"), u"\\\\server\\share");
  EXPECT_EQ(AppFolderFromModulePath(u"\\\\?\\D:\\tavrelo.exe"), u"\\\\?\\D:\\");
  const std::u16string tail(257, u'x');  // after "C:\": 260 characters, too many for a plain path
  EXPECT_EQ(ExtendedLengthPath(u"C:\\" + tail.substr(1)), u"C:\\" + tail.substr(1));
  EXPECT_EQ(ExtendedLengthPath(u"C:\\" + tail), u"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedLengthPath(u"\\\\srv\\" + tail), u"\\\\?\\UNC\\srv\\" + tail);
  for (const std::u16string& same :
       {u"\\\\?\\C:\\" + tail, u"jre\\" + tail, u"C:x" + tail, u"C:\\.\\" + tail, u"C:\\a/" + tail}) {
    EXPECT_EQ(ExtendedLengthPath(same), same);
  }
  EXPECT_FALSE(IsQuotableFolder(u"C:\\jre\0x"sv));  // RunLauncherTest tries a quote
}

const std::u16string kSource = u"C:\\orvane\\GsmModemJar\\Comm.jar";
const std::u16string kTarget = u"C:\\jre\\lib\\ext\\Comm.jar";
const std::u16string kPartial = u"C:\\jre\\lib\\ext\\Comm.jar.tavrelo-partial";

TEST(WholeCopyTest, WritesAPartialCopyThroughToTheDiskAndRenamesItWhileStillOpen) {
  Fake fake;
  fake.disk = {{kSource, "abc"}};
  ASSERT_TRUE(CopyWhole(fake, kSource, kTarget).ok());
  EXPECT_EQ(fake.log, (Log{u"open " + kSource, u"create " + kPartial, u"read 3", u"write 3", u"read 0",
                           u"flush 2", u"replace " + kPartial + u" -> " + kTarget, u"close 2", u"close 1"}));
  EXPECT_EQ(fake.disk, (Disk{{kSource, "abc"}, {kTarget, "abc"}}));
}

TEST(WholeCopyTest, AFailedStepLeavesNeitherTargetNorPartialCopyAndNamesBothFiles) {
  for (const char16_t* step : {u"open", u"create", u"read", u"write", u"flush", u"replace"}) {
    SCOPED_TRACE(::testing::PrintToString(std::u16string(step)));
    Fake fake;
    fake.disk = {{kSource, "abc"}};
    fake.failing = step;
    const Outcome<void> copied = CopyWhole(fake, kSource, kTarget);
    ASSERT_FALSE(copied.ok());
    EXPECT_EQ(copied.failure().number(), 112u);
    EXPECT_EQ(copied.failure().description(), u"Could not copy \"C:\\orvane\\GsmModemJar\\Comm.jar\" to "
                                              u"\"C:\\jre\\lib\\ext\\Comm.jar\".\r\n\r\nSystem error 112.");
    EXPECT_EQ(fake.disk, (Disk{{kSource, "abc"}}));
    EXPECT_TRUE(fake.open_files.empty());
    EXPECT_EQ(fake.pauses, 0);  // only for another process's copy
  }
}

TEST(WholeCopyTest, WaitsForAnotherProcessCopyingTheSameFileForAMinuteAtMostAndKeepsItsCopy) {
  Fake fake;
  fake.disk = {{kSource, "abc"}};
  fake.held = kPartial;
  const Outcome<void> copied = CopyWhole(fake, kSource, kTarget);
  EXPECT_EQ(copied.ok() ? 0 : copied.failure().number(), 32u);
  EXPECT_EQ(fake.pauses, 1200);
  EXPECT_EQ(fake.disk, (Disk{{kSource, "abc"}}));
  fake.pauses = 0;
  fake.on_pause = [&] {  // the other process's copy is whole after three pauses
    if (fake.pauses < 3) return;
    fake.disk[kTarget] = "theirs";
    fake.held.clear();
  };
  ASSERT_TRUE(CopyWhole(fake, kSource, kTarget).ok());
  EXPECT_EQ(fake.pauses, 3);
  EXPECT_EQ(fake.disk, (Disk{{kSource, "abc"}, {kTarget, "theirs"}}));
}

}  // namespace
}  // namespace tavrelo
