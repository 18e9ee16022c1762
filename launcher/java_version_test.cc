#include "launcher/java_version.h"

#include <gtest/gtest.h>

#include <clocale>

#include "common/failure.h"

namespace tavrelo {
namespace {

// Whether `name` qualifies, for a name that must read as a number.
bool Supported(std::u16string_view name) {
  const Outcome<bool> supported = IsSupportedJavaVersion(name);
  if (supported.ok()) return supported.value();
  ADD_FAILURE() << "no number in the name";
  return false;
}

TEST(JavaVersionTest, OnlyTheFirstThreeCharactersCount) {
  EXPECT_EQ(VersionPrefixNumber(u"1.4.2_10"), 1.4);
  EXPECT_EQ(VersionPrefixNumber(u"1.6.0_03"), 1.6);
  EXPECT_EQ(VersionPrefixNumber(u"1.5"), 1.5);
  EXPECT_EQ(VersionPrefixNumber(u"1"), 1.0);
  EXPECT_EQ(VersionPrefixNumber(u"10"), 10.0);
  EXPECT_EQ(VersionPrefixNumber(u"1.x"), std::nullopt);
  EXPECT_EQ(VersionPrefixNumber(u"150"), 150.0);
}

TEST(JavaVersionTest, AcceptsBlanksSignsAndBarePoints) {
  EXPECT_EQ(VersionPrefixNumber(u" 1."), 1.0);
  EXPECT_EQ(VersionPrefixNumber(u".5"), 0.5);
  EXPECT_EQ(VersionPrefixNumber(u"-1."), -1.0);
  EXPECT_EQ(VersionPrefixNumber(u"+2"), 2.0);
}

TEST(JavaVersionTest, RejectsTextThatIsNotANumber) {
  for (const char16_t* name : {u"", u"   ", u"Beta", u"1,4", u"..5", u"-", u".", u"1.."}) {
    EXPECT_EQ(VersionPrefixNumber(name), std::nullopt) << "case " << static_cast<int>(name[0]);
  }
  EXPECT_EQ(VersionPrefixNumber(u"\uFF11.5"), std::nullopt);  // full-width digit one
}

TEST(JavaVersionTest, DecimalPointIsAlwaysAFullStop) {
  // A decimal-comma locale must not turn "1.4" into 14 (or "1,4" into 1.4).
  const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_FALSE(Supported(u"1.4.2_08"));
  EXPECT_TRUE(Supported(u"1.5.0_06"));
  EXPECT_FALSE(IsSupportedJavaVersion(u"1,6").ok());
  if (previous) std::setlocale(LC_NUMERIC, "C");
}

TEST(JavaVersionTest, ThresholdIsOnePointFive) {
  EXPECT_FALSE(Supported(u"1.3.1"));
  EXPECT_FALSE(Supported(u"1.4"));
  EXPECT_TRUE(Supported(u"1.5"));
  EXPECT_TRUE(Supported(u"1.6"));
  EXPECT_TRUE(Supported(u"9"));
  EXPECT_FALSE(Supported(u"-2"));
}

TEST(JavaVersionTest, FailureNamesTheSubkey) {
  const Outcome<bool> supported = IsSupportedJavaVersion(u"Beta-Runtime");
  ASSERT_FALSE(supported.ok());
  EXPECT_EQ(supported.failure().number(), 13u);
  EXPECT_NE(supported.failure().description().find(u"\"Beta-Runtime\""), std::u16string::npos);
}

}  // namespace
}  // namespace tavrelo
