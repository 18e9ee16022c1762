#include "launcher/mod_main.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "launcher/launch_command.h"
#include "launcher/messages.h"
#include "tests/fakes/fake_platform.h"

namespace tavrelo {
namespace {

using testing::FakePlatform;
using testing::ProcessEnded;

constexpr char kRuntimes[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const std::u16string kHome = u"C:\\Program Files\\Java\\jre1.5.0_06";

std::string Runtime(const std::string& version) { return std::string(kRuntimes) + "\\" + version; }

// The four support files, present in the support folder and (optionally) in
// the runtime, so that tests of discovery do not see copy messages.
void AddSupportFiles(FakePlatform& fake, const std::u16string& home, bool in_runtime) {
  for (const char16_t* name : {u"Comm.jar", u"javax.comm.properties", u"Win32com.dll", u"jdc.jar"}) {
    fake.files.AddFile(std::u16string(u"C:\\orvane\\GsmModemJar\\") + name, "support");
  }
  fake.files.AddFolder(home + u"\\lib\\ext");
  fake.files.AddFolder(home + u"\\bin");
  if (in_runtime) {
    fake.files.AddFile(home + u"\\lib\\ext\\Comm.jar");
    fake.files.AddFile(home + u"\\lib\\javax.comm.properties");
    fake.files.AddFile(home + u"\\bin\\Win32com.dll");
    fake.files.AddFile(home + u"\\lib\\ext\\jdc.jar");
  }
}

int EndCode(FakePlatform& fake, void (*run)(LauncherEnvironment&)) {
  try {
    run(fake.env);
  } catch (const ProcessEnded& ended) {
    return ended.exit_code;
  }
  return -1;
}

class FindJavaHomeTest : public ::testing::Test {
 protected:
  void SetUp() override { JavaHomePath = u"stale value"; }
  void Find() {
    FindJavaHome(fake_.env);
    EXPECT_EQ(fake_.registry.open_handles(), 0u);
  }
  FakePlatform fake_;
};

TEST_F(FindJavaHomeTest, MissingKeyShowsTheNotInstalledMessageAndEnds) {
  EXPECT_EQ(EndCode(fake_, FindJavaHome), 3);
  EXPECT_EQ(fake_.messages.shown, (std::vector<std::u16string>{kJavaNotInstalledMessage}));
  EXPECT_EQ(std::u16string(kJavaNotInstalledMessage).find(u"\r\nDownload"), 65u);
  EXPECT_TRUE(JavaHomePath.empty());
}

TEST_F(FindJavaHomeTest, NoRuntimeOfOnePointFiveShowsTheTooOldMessageAndEnds) {
  fake_.registry.SetText(Runtime("1.3.1"), "JavaHome", "C:\\jre131");
  fake_.registry.SetText(Runtime("1.4.2_08"), "JavaHome", "C:\\jre142");
  EXPECT_EQ(EndCode(fake_, FindJavaHome), 4);
  EXPECT_EQ(fake_.messages.shown, (std::vector<std::u16string>{kJavaTooOldMessage}));

  FakePlatform empty_key;
  empty_key.registry.AddKey(kRuntimes);
  EXPECT_EQ(EndCode(empty_key, FindJavaHome), 4);
  EXPECT_EQ(empty_key.messages.shown, (std::vector<std::u16string>{kJavaTooOldMessage}));
}

TEST_F(FindJavaHomeTest, FirstQualifyingSubkeyInEnumerationOrderWins) {
  fake_.registry.SetText(Runtime("1.4.2"), "JavaHome", "C:\\jre142");
  fake_.registry.SetText(Runtime("1.5.0_06"), "JavaHome", "C:\\Program Files\\Java\\jre1.5.0_06");
  fake_.registry.SetText(Runtime("1.6"), "JavaHome", "C:\\jre16");
  AddSupportFiles(fake_, kHome, true);
  Find();
  EXPECT_EQ(JavaHomePath, kHome);
  EXPECT_TRUE(fake_.messages.shown.empty());
  // The support files were checked once, in the chosen runtime only.
  EXPECT_EQ(std::count(fake_.log.begin(), fake_.log.end(),
                       u"exists? " + kHome + u"\\lib\\ext\\Comm.jar"),
            1);
}

TEST_F(FindJavaHomeTest, NonNumericSubkeyMetFirstAbortsTheSearchWithTwoMessages) {
  fake_.registry.SetText(Runtime("Beta"), "JavaHome", "C:\\beta");
  fake_.registry.SetText(Runtime("1.6"), "JavaHome", "C:\\jre16");
  Find();
  ASSERT_EQ(fake_.messages.shown.size(), 2u);
  EXPECT_NE(fake_.messages.shown[0].find(u"\"Beta\""), std::u16string::npos);
  EXPECT_EQ(fake_.messages.shown[1], kSearchFailedMessage);
  EXPECT_TRUE(JavaHomePath.empty());
}

TEST_F(FindJavaHomeTest, QualifyingSubkeyWithoutJavaHomeReportsUnsupportedValueType) {
  fake_.registry.AddKey(Runtime("1.6"));
  Find();
  EXPECT_EQ(fake_.messages.shown,
            (std::vector<std::u16string>{u"Unsupported value type", kSearchFailedMessage}));
  EXPECT_TRUE(JavaHomePath.empty());
}

TEST_F(FindJavaHomeTest, UnreadableQualifyingSubkeyGivesAnEmptyHomeSilently) {
  fake_.registry.SetText(Runtime("1.6"), "JavaHome", "C:\\jre16");
  fake_.registry.DenyOpen(Runtime("1.6"));
  Find();
  EXPECT_TRUE(fake_.messages.shown.empty());
  EXPECT_TRUE(JavaHomePath.empty());
  EXPECT_TRUE(fake_.files.copies.empty());
}

TEST_F(FindJavaHomeTest, JavaHomeOfEveryKindIsTurnedIntoText) {
  struct Case {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::u16string home;
  } cases[] = {
      {2, {'%', 'J', '%', '\\', 'j', 'r', 'e', 0}, u"%J%\\jre"},   // left unexpanded
      {1, {'C', ':', '\\', 'j', 'r', 'e', '6'}, u"C:\\jre6"},       // no terminator: nothing lost
      {4, {0xD2, 0x04, 0, 0}, u"1234"},
      {4, {0xFF, 0xFF, 0xFF, 0xFF}, u"-1"},
      {3, {'C', 0, ':', 0, 0x2F, 0x20, 'x'}, u"C:\u202F"},          // odd last byte ignored
      {1, {0}, u""},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.registry.SetValue(Runtime("1.5.0"), "JavaHome", c.type, c.data);
    FindJavaHome(fake.env);
    EXPECT_EQ(JavaHomePath, c.home) << "type " << c.type;
  }
}

TEST_F(FindJavaHomeTest, CopyFailuresAreReportedByTheCopyAndKeepTheRuntime) {
  fake_.registry.SetText(Runtime("1.6"), "JavaHome", "C:\\jre16");
  fake_.files.AddFolder(u"C:\\jre16\\lib\\ext");  // support folder is empty
  Find();
  EXPECT_EQ(JavaHomePath, u"C:\\jre16");
  ASSERT_EQ(fake_.messages.shown.size(), 2u);
  EXPECT_EQ(fake_.messages.shown[1], kCopyFailedMessage);
}

class CopyCommFilesTest : public ::testing::Test {
 protected:
  void AddSources(std::initializer_list<const char16_t*> names) {
    for (const char16_t* name : names) {
      fake_.files.AddFile(std::u16string(u"C:\\orvane\\GsmModemJar\\") + name, "support");
    }
  }
  void AddAllSources() { AddSources({u"Comm.jar", u"javax.comm.properties", u"Win32com.dll", u"jdc.jar"}); }
  void AddRuntimeFile(const char16_t* relative, bool read_only = false) {
    fake_.files.AddFile(home_ + relative, "own", read_only);
  }
  using Copy = std::pair<std::u16string, std::u16string>;
  const std::u16string home_ = u"C:\\jre";
  FakePlatform fake_;
};

TEST_F(CopyCommFilesTest, AllPresentCopiesNothingAndTouchesNothing) {
  AddAllSources();
  AddRuntimeFile(u"\\lib\\ext\\Comm.jar", /*read_only=*/true);
  AddRuntimeFile(u"\\lib\\javax.comm.properties");
  AddRuntimeFile(u"\\bin\\Win32com.dll");
  AddRuntimeFile(u"\\lib\\ext\\jdc.jar");
  CopyCommFiles(fake_.env, home_);
  EXPECT_TRUE(fake_.files.copies.empty());
  EXPECT_TRUE(fake_.messages.shown.empty());
  EXPECT_EQ(fake_.files.Content(home_ + u"\\lib\\ext\\Comm.jar"), "own");
}

TEST_F(CopyCommFilesTest, MissingRowsAreCopiedInTableOrderIntoTheirFolders) {
  AddAllSources();
  AddRuntimeFile(u"\\lib\\javax.comm.properties");
  fake_.files.AddFolder(home_ + u"\\lib\\ext");
  fake_.files.AddFolder(home_ + u"\\bin");
  CopyCommFiles(fake_.env, home_);
  EXPECT_EQ(fake_.files.copies,
            (std::vector<Copy>{
                {u"C:\\orvane\\GsmModemJar\\Comm.jar", u"C:\\jre\\lib\\ext\\Comm.jar"},
                {u"C:\\orvane\\GsmModemJar\\Win32com.dll", u"C:\\jre\\bin\\Win32com.dll"},
                {u"C:\\orvane\\GsmModemJar\\jdc.jar", u"C:\\jre\\lib\\ext\\jdc.jar"},
            }));
  EXPECT_EQ(fake_.files.Content(home_ + u"\\lib\\javax.comm.properties"), "own");
  EXPECT_EQ(fake_.files.Content(home_ + u"\\bin\\Win32com.dll"), "support");
  EXPECT_TRUE(fake_.messages.shown.empty());
}

TEST_F(CopyCommFilesTest, FilesPresentInAnyLetterCaseAreNotCopied) {
  AddAllSources();
  AddRuntimeFile(u"\\lib\\ext\\comm.jar");
  AddRuntimeFile(u"\\LIB\\javax.comm.properties");
  AddRuntimeFile(u"\\bin\\win32COM.dll");
  AddRuntimeFile(u"\\lib\\ext\\JDC.JAR");
  CopyCommFiles(fake_.env, home_);
  EXPECT_TRUE(fake_.files.copies.empty());
}

TEST_F(CopyCommFilesTest, FirstFailureStopsLaterRowsWithoutRollingBack) {
  AddSources({u"Comm.jar", u"Win32com.dll", u"jdc.jar"});  // row 2's source is missing
  fake_.files.AddFolder(home_ + u"\\lib\\ext");
  fake_.files.AddFolder(home_ + u"\\bin");
  CopyCommFiles(fake_.env, home_);
  EXPECT_EQ(fake_.files.copies,
            (std::vector<Copy>{{u"C:\\orvane\\GsmModemJar\\Comm.jar", u"C:\\jre\\lib\\ext\\Comm.jar"}}));
  EXPECT_FALSE(fake_.files.Has(home_ + u"\\bin\\Win32com.dll"));
  EXPECT_EQ(fake_.messages.shown,
            (std::vector<std::u16string>{u"The system cannot find the file specified.",
                                         kCopyFailedMessage}));
}

TEST_F(CopyCommFilesTest, MissingSourceOfRowOneStopsEverything) {
  AddSources({u"javax.comm.properties", u"Win32com.dll", u"jdc.jar"});
  fake_.files.AddFolder(home_ + u"\\lib\\ext");
  fake_.files.AddFolder(home_ + u"\\bin");
  CopyCommFiles(fake_.env, home_);
  EXPECT_TRUE(fake_.files.copies.empty());
  EXPECT_EQ(fake_.messages.shown.size(), 2u);
}

TEST_F(CopyCommFilesTest, MissingOrReadOnlyDestinationIsAReportedFailure) {
  AddAllSources();
  fake_.files.AddFolder(home_ + u"\\bin");  // no \lib\ext: it is not created
  CopyCommFiles(fake_.env, home_);
  EXPECT_EQ(fake_.messages.shown,
            (std::vector<std::u16string>{u"The system cannot find the path specified.",
                                         kCopyFailedMessage}));
  EXPECT_FALSE(fake_.files.Has(home_ + u"\\lib\\ext\\Comm.jar"));
}

class RunLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.registry.SetText(Runtime("1.6"), "JavaHome", "C:\\Program Files\\Java\\jre6");
    AddSupportFiles(fake_, u"C:\\Program Files\\Java\\jre6", true);
  }
  FakePlatform fake_{u"D:\\Apps\\Tavrelo"};
};

TEST_F(RunLauncherTest, StartsHiddenInTheAppFolderThenLingersAndEnds) {
  EXPECT_EQ(EndCode(fake_, RunLauncher), 0);
  ASSERT_EQ(fake_.process.starts.size(), 1u);
  const auto& start = fake_.process.starts[0];
  EXPECT_EQ(start.command, LaunchCommand(u"C:\\Program Files\\Java\\jre6", u"D:\\Apps\\Tavrelo"));
  EXPECT_TRUE(start.command.starts_with(u"\"C:\\Program Files\\Java\\jre6\\bin\\java.exe\" "));
  // The child gets the application folder even though the launcher's own
  // folder is on drive C, and the launcher's folder is restored afterwards.
  EXPECT_EQ(start.working_folder, u"D:\\Apps\\Tavrelo");
  EXPECT_EQ(fake_.process.current_directory, u"C:\\Users\\user");
  const std::vector<std::u16string> tail(fake_.log.end() - 4, fake_.log.end());
  EXPECT_EQ(tail, (std::vector<std::u16string>{u"start " + start.command, u"chdir C:\\Users\\user",
                                               u"sleep 10000", u"end 0"}));
}

TEST_F(RunLauncherTest, SearchFailureFallsBackToJavaOnTheSearchPath) {
  FakePlatform fake(u"D:\\Apps\\Tavrelo");
  fake.registry.SetText(Runtime("Beta"), "JavaHome", "x");
  fake.registry.SetText(Runtime("1.6"), "JavaHome", "C:\\jre6");
  EXPECT_EQ(EndCode(fake, RunLauncher), 0);
  ASSERT_EQ(fake.process.starts.size(), 1u);
  EXPECT_TRUE(fake.process.starts[0].command.starts_with(u"java -classpath \"D:\\Apps"));
  EXPECT_EQ(fake.messages.shown.size(), 2u);
}

TEST_F(RunLauncherTest, StartFailureShowsOneMessageAndEndsWithoutLingering) {
  fake_.process.start_error = 2;
  EXPECT_EQ(EndCode(fake_, RunLauncher), 2);
  ASSERT_EQ(fake_.messages.shown.size(), 1u);
  EXPECT_EQ(fake_.messages.shown[0],
            u"The Java application could not be started.\r\n\r\nError 2: System error 2.");
  EXPECT_EQ(std::count(fake_.log.begin(), fake_.log.end(), u"sleep 10000"), 0);
}

TEST_F(RunLauncherTest, RuntimeFolderThatCannotBeQuotedIsNeverStarted) {
  FakePlatform fake;
  fake.registry.SetValue(Runtime("1.6"), "JavaHome", 1,
                         {'C', ':', '\\', 'x', '"', ' ', '-', 'j', 'a', 'r', 0});
  AddSupportFiles(fake, u"C:\\x\" -jar", true);
  EXPECT_EQ(EndCode(fake, RunLauncher), 2);
  EXPECT_TRUE(fake.process.starts.empty());
  ASSERT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_TRUE(fake.messages.shown[0].starts_with(kStartFailedMessage));
  EXPECT_NE(fake.messages.shown[0].find(u"Error 123"), std::u16string::npos);
}

TEST_F(RunLauncherTest, NoRuntimeEndsBeforeAnythingStarts) {
  FakePlatform fake;
  EXPECT_EQ(EndCode(fake, RunLauncher), 3);
  EXPECT_TRUE(fake.process.starts.empty());
  EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), u"sleep 10000"), 0);
}

}  // namespace
}  // namespace tavrelo
