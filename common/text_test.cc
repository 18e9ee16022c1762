#include "common/text.h"

#include <gtest/gtest.h>

#include <limits>

namespace tavrelo {
namespace {

TEST(DecimalTextTest, WholeRangeOfSignedValues) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(-1), u"-1");
  EXPECT_EQ(DecimalText(2147483647), u"2147483647");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int64_t>::min()), u"-9223372036854775808");
}

TEST(AsciiLowerTest, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLower(u"Comm.JAR \u00C4"), u"comm.jar \u00C4");
}

}  // namespace
}  // namespace tavrelo
