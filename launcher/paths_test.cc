#include "launcher/paths.h"

#include <gtest/gtest.h>

namespace tavrelo {
namespace {

TEST(AppFolderTest, FolderOfTheModuleWithoutTrailingSeparator) {
  EXPECT_EQ(AppFolderFromModulePath(u"C:\\Program Files\\Tavrelo\\tavrelo.exe"),
            u"C:\\Program Files\\Tavrelo");
  EXPECT_EQ(AppFolderFromModulePath(u"\\\\server\\share\\apps\\tavrelo.exe"),
            u"\\\\server\\share\\apps");
}

TEST(AppFolderTest, DriveRootKeepsItsBackslash) {
  EXPECT_EQ(AppFolderFromModulePath(u"C:\\tavrelo.exe"), u"C:\\");
  EXPECT_EQ(AppFolderFromModulePath(u"\\\\?\\D:\\tavrelo.exe"), u"\\\\?\\D:\\");
}

TEST(AppFolderTest, LongFoldersAreNotCut) {
  std::u16string folder = u"C:";
  while (folder.size() < 400) folder += u"\\a folder with a long name";
  EXPECT_EQ(AppFolderFromModulePath(folder + u"\\tavrelo.exe"), folder);
}

TEST(ExtendedLengthPathTest, OnlyLongAbsolutePathsAreRewritten) {
  const std::u16string tail(300, u'x');
  EXPECT_EQ(ExtendedLengthPath(u"C:\\short\\Comm.jar"), u"C:\\short\\Comm.jar");
  EXPECT_EQ(ExtendedLengthPath(u"C:\\" + tail), u"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedLengthPath(u"\\\\srv\\share\\" + tail), u"\\\\?\\UNC\\srv\\share\\" + tail);
  EXPECT_EQ(ExtendedLengthPath(u"\\\\?\\C:\\" + tail), u"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedLengthPath(u"relative\\" + tail), u"relative\\" + tail);
  EXPECT_EQ(ExtendedLengthPath(u"C:\\a\\..\\" + tail), u"C:\\a\\..\\" + tail);
}

}  // namespace
}  // namespace tavrelo
