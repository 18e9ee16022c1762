#include "registry/mregistry.h"

#include <gtest/gtest.h>

#include "tests/fakes/fakes.h"

namespace tavrelo {
namespace {

using namespace std::literals;
using Log = std::vector<std::string>;

TEST(RegistryTest, SubkeysComeInRegistryOrderFromIndexZeroUntilTheFirstError) {
  const struct {
    std::u16string path;
    std::vector<std::u16string> names;
    Log log;
  } rows[] = {
      {u"Key", {u"1.6", u"1.4.2", u"B\u00E9ta"},
       {"open Key", "enum Key 0 260", "enum Key 1 260", "enum Key 2 260", "enum Key 3 260", "close Key"}},
      {u"", {u"Key", u"Bad", u"Locked"},  // the root itself, neither opened nor closed
       {"enum HKLM 0 260", "enum HKLM 1 260", "enum HKLM 2 260", "enum HKLM 3 260"}},
      {u"Bad", {u"a", u"b"},
       {"open Bad", "enum Bad 0 260", "enum Bad 1 260", "enum Bad 2 260", "close Bad"}},
      {u"Locked", {}, {}},
  };
  for (const auto& row : rows) {
    testing::Fake fake;
    for (const char* key : {"Key\\1.6", "Key\\1.4.2", "Key\\B\xE9ta", "Bad\\a", "Bad\\b", "Bad\\c"}) {
      fake.AddKey(key);
    }
    fake.AddKey("Bad").enum_fails_at = 2;
    fake.AddKey("Locked").open_error = 5;
    EXPECT_EQ(RegEnumSubKeys(fake, kHkeyLocalMachine, row.path).names(), row.names);
    EXPECT_EQ(fake.reg_log, row.log);
  }
}

TEST(RegistryTest, ValuesAreConvertedByTypeAndTheKeyIsClosedOnEveryPath) {
  const struct {
    std::uint32_t type;
    std::string data;
    RegValue value;
    std::uint32_t error = 0;
  } rows[] = {
      {1, "abc\0"s, u"abc"s}, {1, "ab\0\0"s, u"ab\0"s}, {1, "C:\\jre6"s, u"C:\\jre6"s}, {1, ""s, u""s},
      {1, "\xC4rger\0"s, u"\u00C4rger"s},      // decoded from the code page
      {2, "%JAVA%\\jre\0"s, u"%JAVA%\\jre"s},  // references stay unexpanded
      {7, "a\0b\0\0"s, u"a\0b"s}, {7, "a\0\0\0"s, u"a\0"s}, {3, "\x01\0\x02"s, RegBytes{1, 0, 2}},
      {4, "\xFF\xFF\xFF\xFF"s, -1}, {4, "\x78\x56\x34\x12"s, 0x12345678}, {4, "\x34\x12"s, 0x1234},
      {4, "\x01\0\0\0\x77"s, 1}, {0, "\x01\0\0\0"s, {}, 1001}, {5, "\x01\0\0\0"s, {}, 1001},
      {6, "\x01\0\0\0"s, {}, 1001}, {8, "\x01\0\0\0"s, {}, 1001}, {11, "\x01\0\0\0\0\0\0\0"s, {}, 1001},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.data) + " of type " + std::to_string(row.type));
    testing::Fake fake;
    fake.AddKey("Key").values["v"] = {row.type, row.data};
    const Outcome<RegValue> read = ReadRegValue(fake, kHkeyLocalMachine, u"Key", u"v");
    EXPECT_EQ(read.ok() ? read.value() : RegValue(), row.value);
    EXPECT_EQ(read.ok() ? 0 : read.failure().number(), row.error);
    EXPECT_EQ(read.ok() ? u"" : read.failure().description(), row.error ? u"Unsupported value type" : u"");
    EXPECT_EQ(fake.reg_log, (Log{"open Key", "query Key v 1024", "close Key"}));
  }
}

TEST(RegistryTest, KeysOpenForReadingOnlyAndValuesBeyond1024BytesTakeASecondQueryOfTheirSize) {
  testing::Fake fake;
  const std::string exact(1024, 'e');
  const std::string large(1025, 'l');
  fake.AddKey("Key").values = {{"exact", {3, exact}}, {"large", {3, large}}};
  fake.AddKey("Locked").open_error = 5;
  EXPECT_TRUE(RegKeyExists(fake, kHkeyLocalMachine, u"Key"));
  EXPECT_FALSE(RegKeyExists(fake, kHkeyLocalMachine, u"Locked"));
  EXPECT_FALSE(RegKeyExists(fake, kHkeyLocalMachine, u"Absent"));
  EXPECT_EQ(ReadRegValue(fake, kHkeyLocalMachine, u"Key", u"exact").value(), RegValue(RegBytes(1024, 'e')));
  EXPECT_EQ(ReadRegValue(fake, kHkeyLocalMachine, u"Key", u"large").value(), RegValue(RegBytes(1025, 'l')));
  // A value that is not there fails, default or not; a key that does not open gives the default.
  const Outcome<RegValue> absent = ReadRegValue(fake, kHkeyLocalMachine, u"Key", u"JavaHome", 7);
  EXPECT_EQ(absent.ok() ? 0 : absent.failure().number(), 1001u);
  EXPECT_EQ(ReadRegValue(fake, kHkeyLocalMachine, u"Locked", u"JavaHome", 7).value(), RegValue(7));
  EXPECT_EQ(ReadRegValue(fake, kHkeyLocalMachine, u"Absent", u"JavaHome").value(), RegValue());
  EXPECT_EQ(fake.reg_log, (Log{"open Key", "close Key", "open Key", "query Key exact 1024", "close Key",
                               "open Key", "query Key large 1024", "query Key large 1025", "close Key",
                               "open Key", "query Key JavaHome 1024", "close Key"}));
}

}  // namespace
}  // namespace tavrelo
