#include "registry/mregistry.h"

#include <gtest/gtest.h>

#include "common/failure.h"
#include "tests/fakes/fake_registry.h"

namespace tavrelo {
namespace {

using testing::FakeRegistry;

constexpr char kKey[] = "SOFTWARE\\Test";

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// The value of a read that must succeed.
RegValue ValueOf(Outcome<RegValue> read) {
  if (read.ok()) return read.value();
  ADD_FAILURE() << "the read failed with " << read.failure().number();
  return {};
}

// Reads `name` in kKey and checks that every opened key was closed again.
Outcome<RegValue> Query(FakeRegistry& registry, const char16_t* name, RegValue fallback = {}) {
  Outcome<RegValue> read =
      ReadRegValue(registry, kHkeyLocalMachine, u"SOFTWARE\\Test", name, fallback);
  EXPECT_EQ(registry.open_handles(), 0u);
  return read;
}

RegValue Read(FakeRegistry& registry, const char16_t* name, RegValue fallback = {}) {
  return ValueOf(Query(registry, name, std::move(fallback)));
}

TEST(RegKeyExistsTest, OpensForReadingAndClosesAgain) {
  FakeRegistry registry;
  registry.AddKey(kKey);
  EXPECT_TRUE(RegKeyExists(registry, kHkeyLocalMachine, u"software\\TEST"));
  EXPECT_EQ(registry.last_access(), 0x20019u);
  EXPECT_EQ(registry.opens(), 1);
  EXPECT_EQ(registry.closes(), 1);
  EXPECT_FALSE(registry.closed_foreign_handle());
}

TEST(RegKeyExistsTest, MissingOrUnreadableKeyIsFalse) {
  FakeRegistry registry;
  registry.DenyOpen(kKey, 5);
  EXPECT_FALSE(RegKeyExists(registry, kHkeyLocalMachine, u"SOFTWARE\\Test"));
  EXPECT_FALSE(RegKeyExists(registry, kHkeyLocalMachine, u"SOFTWARE\\Absent"));
  EXPECT_EQ(registry.closes(), 0);
}

TEST(RegEnumSubKeysTest, ListsInRegistryOrderWithCaseInsensitiveLookup) {
  FakeRegistry registry;
  registry.AddKey("SOFTWARE\\Test\\1.6");
  registry.AddKey("SOFTWARE\\Test\\1.4.2");
  registry.AddKey("SOFTWARE\\Test\\Beta");
  const SubKeyList list = RegEnumSubKeys(registry, kHkeyLocalMachine, u"SOFTWARE\\Test");
  EXPECT_EQ(list.names(), (std::vector<std::u16string>{u"1.6", u"1.4.2", u"Beta"}));
  ASSERT_NE(list.Find(u"bETA"), nullptr);
  EXPECT_EQ(*list.Find(u"bETA"), u"Beta");
  EXPECT_EQ(list.Find(u"1.5"), nullptr);
  EXPECT_EQ(registry.open_handles(), 0u);
}

TEST(RegEnumSubKeysTest, EmptyPathEnumeratesTheRootWithoutOpeningOrClosingIt) {
  FakeRegistry registry;
  registry.AddKey("SOFTWARE");
  registry.AddKey("SYSTEM");
  const SubKeyList list = RegEnumSubKeys(registry, kHkeyLocalMachine, u"");
  EXPECT_EQ(list.names(), (std::vector<std::u16string>{u"SOFTWARE", u"SYSTEM"}));
  EXPECT_EQ(registry.opens(), 0);
  EXPECT_EQ(registry.closes(), 0);
}

TEST(RegEnumSubKeysTest, EmptyForKeysWithoutSubkeysAbsentOrUnreadable) {
  FakeRegistry registry;
  registry.AddKey(kKey);
  registry.DenyOpen("SOFTWARE\\Locked");
  EXPECT_TRUE(RegEnumSubKeys(registry, kHkeyLocalMachine, u"SOFTWARE\\Test").empty());
  EXPECT_TRUE(RegEnumSubKeys(registry, kHkeyLocalMachine, u"SOFTWARE\\Absent").empty());
  EXPECT_TRUE(RegEnumSubKeys(registry, kHkeyLocalMachine, u"SOFTWARE\\Locked").empty());
  EXPECT_EQ(registry.open_handles(), 0u);
}

TEST(RegEnumSubKeysTest, FailureAtAnIndexKeepsTheNamesBeforeIt) {
  FakeRegistry registry;
  for (const char* name : {"a", "b", "c", "d"}) registry.AddKey(std::string(kKey) + "\\" + name);
  registry.FailEnumAt(kKey, 2, 5);
  const SubKeyList list = RegEnumSubKeys(registry, kHkeyLocalMachine, u"SOFTWARE\\Test");
  EXPECT_EQ(list.names(), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(registry.open_handles(), 0u);
}

TEST(RegEnumSubKeysTest, NamesAreDecodedFromTheCodePageAndEndAtTheirNul) {
  FakeRegistry registry;
  registry.AddKey("SOFTWARE\\Test\\J\xE9r\xF4me");
  registry.AddKey("SOFTWARE\\Test\\" + std::string(255, 'x'));
  const SubKeyList list = RegEnumSubKeys(registry, kHkeyLocalMachine, u"SOFTWARE\\Test");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.names()[0], u"J\u00E9r\u00F4me");
  EXPECT_EQ(list.names()[1], std::u16string(255, u'x'));
}

TEST(ReadRegValueTest, MissingOrUnreadableKeyGivesTheDefaultSilently) {
  FakeRegistry registry;
  registry.DenyOpen("SOFTWARE\\Locked");
  EXPECT_EQ(ValueOf(ReadRegValue(registry, kHkeyLocalMachine, u"SOFTWARE\\Absent", u"v")),
            RegValue{});
  EXPECT_EQ(
      ValueOf(ReadRegValue(registry, kHkeyLocalMachine, u"SOFTWARE\\Absent", u"v", RegValue{7})),
      RegValue{7});
  EXPECT_EQ(ValueOf(ReadRegValue(registry, kHkeyLocalMachine, u"SOFTWARE\\Locked", u"v",
                                 RegValue{std::u16string(u"fallback")})),
            RegValue{std::u16string(u"fallback")});
  EXPECT_EQ(registry.queries(), 0);
}

TEST(ReadRegValueTest, AbsentValueFailsWith1001EvenWithADefaultAndClosesTheKey) {
  FakeRegistry registry;
  registry.AddKey(kKey);
  const Outcome<RegValue> read = Query(registry, u"JavaHome", RegValue{std::u16string(u"default")});
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.failure().number(), 1001u);
  EXPECT_EQ(read.failure().description(), u"Unsupported value type");
  EXPECT_EQ(registry.open_handles(), 0u);
  EXPECT_EQ(registry.closes(), 1);
}

TEST(ReadRegValueTest, UnsupportedTypesFailWith1001AndCloseTheKey) {
  FakeRegistry registry;
  for (std::uint32_t type : {0u, 5u, 6u, 8u, 11u, 0xFFFFu}) {
    registry.SetValue(kKey, "v", type, Bytes("12345678"));
    const Outcome<RegValue> read = Query(registry, u"v");
    ASSERT_FALSE(read.ok()) << "type " << type;
    EXPECT_EQ(read.failure().number(), 1001u) << "type " << type;
  }
  EXPECT_EQ(registry.opens(), registry.closes());
}

TEST(ReadRegValueTest, TextTypesDropOnlyTerminatorsThatArePresent) {
  FakeRegistry registry;
  registry.SetValue(kKey, "sz", 1, Bytes(std::string("abc\0", 4)));
  registry.SetValue(kKey, "unterminated", 1, Bytes("C:\\jre6"));
  registry.SetValue(kKey, "empty", 1, {});
  registry.SetValue(kKey, "inner", 1, Bytes(std::string("a\0b\0", 4)));
  registry.SetValue(kKey, "expand", 2, Bytes(std::string("%JAVA%\\jre\0", 11)));
  registry.SetValue(kKey, "multi", 7, Bytes(std::string("a\0b\0\0", 5)));
  registry.SetValue(kKey, "multi_one_nul", 7, Bytes(std::string("a\0b\0", 4)));
  registry.SetValue(kKey, "multi_short", 7, Bytes("a"));
  EXPECT_EQ(Read(registry, u"sz"), RegValue{std::u16string(u"abc")});
  EXPECT_EQ(Read(registry, u"unterminated"), RegValue{std::u16string(u"C:\\jre6")});
  EXPECT_EQ(Read(registry, u"empty"), RegValue{std::u16string()});
  EXPECT_EQ(Read(registry, u"inner"), RegValue{std::u16string(u"a\0b", 3)});
  EXPECT_EQ(Read(registry, u"expand"), RegValue{std::u16string(u"%JAVA%\\jre")});
  EXPECT_EQ(Read(registry, u"multi"), RegValue{std::u16string(u"a\0b", 3)});
  EXPECT_EQ(Read(registry, u"multi_one_nul"), RegValue{std::u16string(u"a\0b", 3)});
  EXPECT_EQ(Read(registry, u"multi_short"), RegValue{std::u16string(u"a")});
}

TEST(ReadRegValueTest, DwordIsLittleEndianSignedAndZeroExtended) {
  FakeRegistry registry;
  registry.SetValue(kKey, "all_ones", 4, {0xFF, 0xFF, 0xFF, 0xFF});
  registry.SetValue(kKey, "short", 4, {0x34, 0x12});
  registry.SetValue(kKey, "long", 4, {0x01, 0x00, 0x00, 0x00, 0x77, 0x77});
  EXPECT_EQ(Read(registry, u"all_ones"), RegValue{std::int32_t{-1}});
  EXPECT_EQ(Read(registry, u"short"), RegValue{std::int32_t{0x1234}});
  EXPECT_EQ(Read(registry, u"long"), RegValue{std::int32_t{1}});
}

TEST(ReadRegValueTest, ValuesUpTo1024BytesTakeOneQueryLargerOnesTwo) {
  FakeRegistry registry;
  std::vector<std::uint8_t> exact(1024);
  std::vector<std::uint8_t> larger(1025);
  for (std::size_t i = 0; i < larger.size(); ++i) larger[i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t i = 0; i < exact.size(); ++i) exact[i] = static_cast<std::uint8_t>(i * 3);
  registry.SetValue(kKey, "exact", 3, exact);
  registry.SetValue(kKey, "larger", 3, larger);
  registry.SetValue(kKey, "empty", 3, {});

  EXPECT_EQ(Read(registry, u"exact"), RegValue{exact});
  EXPECT_EQ(registry.queries(), 1);
  EXPECT_EQ(Read(registry, u"larger"), RegValue{larger});
  EXPECT_EQ(registry.queries(), 3);
  EXPECT_EQ(Read(registry, u"empty"), RegValue{RegBytes{}});
}

TEST(ReadRegValueTest, ValueGrowingBetweenQueriesIsCutToTheBuffer) {
  FakeRegistry registry;
  registry.AddKey(kKey);
  registry.ScriptQueries([](int query, std::uint32_t* type, std::uint8_t* data,
                            std::uint32_t* length) -> long {
    *type = 1;
    if (query == 1) {
      *length = 2000;  // the first answer: needs 2000 bytes
      return 234;
    }
    // Between the queries the value grew to 5000 bytes: the buffer only has
    // room for 2000, which this query fills before reporting the new size.
    std::fill(data, data + *length, static_cast<std::uint8_t>('q'));
    *length = 5000;
    return 234;
  });
  const RegValue value = Read(registry, u"v");
  ASSERT_TRUE(std::holds_alternative<std::u16string>(value));
  EXPECT_EQ(std::get<std::u16string>(value), std::u16string(2000, u'q'));
}

TEST(ReadRegValueTest, FailedFirstQueryIsNotConvertedWhateverTypeItReports) {
  FakeRegistry registry;
  registry.AddKey(kKey);
  registry.ScriptQueries([](int, std::uint32_t* type, std::uint8_t*, std::uint32_t* length) {
    *type = 1;
    *length = 50000;
    return 5L;  // access denied
  });
  EXPECT_FALSE(Query(registry, u"v").ok());
  EXPECT_EQ(registry.queries(), 1);
}

TEST(ReadRegValueTest, ArgumentsAreConvertedToTheCodePage) {
  FakeRegistry registry;
  registry.SetText("SOFTWARE\\Caf\xE9", "N\xE4me", "\xC4rger");
  const RegValue value = ValueOf(
      ReadRegValue(registry, kHkeyLocalMachine, u"SOFTWARE\\Caf\u00E9", u"N\u00E4me"));
  EXPECT_EQ(value, RegValue{std::u16string(u"\u00C4rger")});
}

}  // namespace
}  // namespace tavrelo
