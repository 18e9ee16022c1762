#include "launcher/whole_copy.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "tests/fakes/fake_file_steps.h"

namespace tavrelo {
namespace {

using testing::FakeFileSteps;

const std::u16string kSource = u"C:\\orvane\\GsmModemJar\\Comm.jar";
const std::u16string kDestination = u"C:\\jre\\lib\\ext\\Comm.jar";

// Larger than one chunk of the copy, so it takes several reads and writes.
std::string SourceContent() {
  std::string content;
  for (int i = 0; i < 150000; ++i) content.push_back(static_cast<char>(i * 7 % 251));
  return content;
}

struct Ended {};

class WholeCopyTest : public ::testing::Test {
 protected:
  void SetUp() override { files_.AddFile(kSource, SourceContent()); }

  // The destination is absent or the whole source, and nothing but the
  // source, the destination and a partial copy exists.
  void ExpectAbsentOrWhole(const std::string& when) {
    if (files_.Has(kDestination)) EXPECT_EQ(files_.Content(kDestination), SourceContent()) << when;
    for (const std::u16string& path : files_.Paths()) {
      EXPECT_TRUE(path == AsciiLower(kSource) || path == AsciiLower(kDestination) ||
                  path == AsciiLower(PartialCopyPath(kDestination)))
          << when;
    }
  }

  FakeFileSteps files_;
};

TEST_F(WholeCopyTest, CopiesEveryByteUnderTheDestinationsNameAndLeavesNothingElse) {
  ASSERT_TRUE(CopyWhole(files_, kSource, kDestination).ok());
  EXPECT_EQ(files_.Content(kDestination), SourceContent());
  EXPECT_EQ(files_.Paths(), (std::set<std::u16string>{AsciiLower(kSource), AsciiLower(kDestination)}));
  EXPECT_EQ(files_.open_files(), 0u);
}

TEST_F(WholeCopyTest, AFailureAtAnyStepLeavesNoDestinationAndNoPartialCopy) {
  for (const std::string& step : FakeFileSteps::StepNames()) {
    // The second read and write fail after a first chunk was copied.
    for (int occurrence : {1, 2}) {
      if (occurrence == 2 && step != "Read" && step != "Write") continue;
      const std::string when = step + " #" + std::to_string(occurrence);
      FakeFileSteps files;
      files.AddFile(kSource, SourceContent());
      files.FailAt(step, occurrence, 112);  // ERROR_DISK_FULL
      const Outcome<void> copied = CopyWhole(files, kSource, kDestination);
      ASSERT_FALSE(copied.ok()) << when;
      EXPECT_EQ(copied.failure().number(), 112u) << when;
      EXPECT_EQ(copied.failure().description(),
                u"Could not copy \"" + kSource + u"\" to \"" + kDestination +
                    u"\".\r\n\r\nSystem error 112.")
          << when;
      EXPECT_EQ(files.Paths(), std::set<std::u16string>{AsciiLower(kSource)}) << when;
      EXPECT_EQ(files.open_files(), 0u) << when;
    }
  }
}

TEST_F(WholeCopyTest, EndedAtAnyStepTheDestinationIsAbsentOrWholeAndTheNextCopyMendsIt) {
  ASSERT_TRUE(CopyWhole(files_, kSource, kDestination).ok());
  const int steps = files_.steps();
  ASSERT_GT(steps, 6);
  for (int end_at = 0; end_at <= steps; ++end_at) {
    const std::string when = "ended before step " + std::to_string(end_at);
    FakeFileSteps files;
    files.AddFile(kSource, SourceContent());
    files.BeforeEachStep([end_at](const std::string&, int step) {
      if (step == end_at) throw Ended{};
    });
    try {
      (void)CopyWhole(files, kSource, kDestination);
    } catch (const Ended&) {
      files.EndProcess();
    }
    files_ = files;
    ExpectAbsentOrWhole(when);
    // The next run, with nothing in its way, replaces a partial copy.
    files_.BeforeEachStep(nullptr);
    ASSERT_TRUE(CopyWhole(files_, kSource, kDestination).ok()) << when;
    EXPECT_EQ(files_.Content(kDestination), SourceContent()) << when;
    EXPECT_FALSE(files_.Has(PartialCopyPath(kDestination))) << when;
  }
}

TEST_F(WholeCopyTest, WaitsForAnotherProcessCopyingTheSameFileAndKeepsWhatItCopied) {
  files_.HoldElsewhere(PartialCopyPath(kDestination));
  int pauses = 0;
  files_.on_pause = [&] {
    if (++pauses < 3) return;
    files_.AddFile(kDestination, "the other process's whole copy");
    files_.ReleaseElsewhere(PartialCopyPath(kDestination));
  };
  ASSERT_TRUE(CopyWhole(files_, kSource, kDestination).ok());
  EXPECT_EQ(pauses, 3);
  EXPECT_EQ(files_.Content(kDestination), "the other process's whole copy");
  EXPECT_FALSE(files_.Has(PartialCopyPath(kDestination)));
  EXPECT_EQ(files_.open_files(), 0u);
}

TEST_F(WholeCopyTest, GivesUpAfterAMinuteOfWaitingForAnotherProcessThatHangs) {
  files_.HoldElsewhere(PartialCopyPath(kDestination));
  int pauses = 0;
  files_.on_pause = [&] { ++pauses; };
  const Outcome<void> copied = CopyWhole(files_, kSource, kDestination);
  ASSERT_FALSE(copied.ok());
  EXPECT_EQ(copied.failure().number(), kErrorSharingViolation);
  EXPECT_EQ(pauses, 1200);  // of 50 ms each in the Win32 adapter
  EXPECT_FALSE(files_.Has(kDestination));
  EXPECT_EQ(files_.open_files(), 0u);
}

TEST_F(WholeCopyTest, CopiesItselfWhenTheOtherProcessStoppedWithoutAWholeCopy) {
  files_.HoldElsewhere(PartialCopyPath(kDestination));
  files_.AddFile(PartialCopyPath(kDestination), "the other process's first bytes");
  files_.on_pause = [&] { files_.ReleaseElsewhere(PartialCopyPath(kDestination)); };
  ASSERT_TRUE(CopyWhole(files_, kSource, kDestination).ok());
  EXPECT_EQ(files_.Content(kDestination), SourceContent());
  EXPECT_FALSE(files_.Has(PartialCopyPath(kDestination)));
}

}  // namespace
}  // namespace tavrelo
