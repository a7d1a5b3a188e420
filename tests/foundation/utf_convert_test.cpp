#include "foundation/utf_convert.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/exceptions.h"
#include "tests/foundation/zero_pages.h"

namespace {

constexpr const char kUtf8SizeError[] =
    "Error converting string encoding: Cannot get needed size for Utf-8 to Utf-16 conversion";
constexpr const char kUtf16SizeError[] =
    "Error converting string encoding: Cannot get needed size for Utf-16 to Utf-8 conversion";
constexpr std::size_t kMaxSourceUnits = 2147483647;

template <class Convert, class Text>
std::string conversionFailure(Convert convert, Text text) {
  try {
    convert(text);
  } catch (const plx::ConversionStringException& error) {
    return error.what();
  }
  return "(converted)";
}

std::string utf8Failure(std::string_view text) { return conversionFailure(plx::utf8ToUtf16, text); }

std::string utf16Failure(std::u16string_view text) {
  return conversionFailure(plx::utf16ToUtf8, text);
}

TEST(UtfConvert, EmptyTextConvertsToEmptyTextBothWays) {
  EXPECT_EQ(plx::utf8ToUtf16(""), u"");
  EXPECT_EQ(plx::utf16ToUtf8(u""), "");
}

TEST(UtfConvert, EncodingBoundariesRoundTrip) {
  // The first and last code point of each sequence length, and those on each
  // side of the surrogate range.
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"\x7F", u"\u007F"},
      {"\xC2\x80", u"\u0080"},
      {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xED\x9F\xBF", u"\uD7FF"},
      {"\xEE\x80\x80", u"\uE000"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(plx::utf8ToUtf16(utf8), utf16) << testing::PrintToString(utf8);
    EXPECT_EQ(plx::utf16ToUtf8(utf16), utf8) << testing::PrintToString(utf8);
  }
}

TEST(UtfConvert, CharacterOutsideTheBasicPlaneBecomesASurrogatePairAndComesBack) {
  const std::string path = "C:\\scan\\\xF0\x9F\x98\x80.bin";  // U+1F600
  const std::u16string wide = plx::utf8ToUtf16(path);
  EXPECT_EQ(wide, u"C:\\scan\\\xD83D\xDE00.bin");
  EXPECT_EQ(plx::utf16ToUtf8(wide), path);
}

// Texts up to 64 KiB take one pass, longer ones are measured first: both
// convert the same way and refuse a bad byte at either end with one message.
TEST(Utf8ToUtf16, TextsOnEachSideOfTheOnePassLengthConvertAndRefuseAlike) {
  for (const std::size_t length : {std::size_t{65535}, std::size_t{65536}, std::size_t{65537}}) {
    std::string utf8(length - 2, 'a');
    utf8 += "\xC3\xA9";  // U+00E9 as the text's last two bytes
    std::u16string utf16(length - 2, u'a');
    utf16 += u"\u00E9";
    EXPECT_EQ(plx::utf8ToUtf16(utf8), utf16) << length;
    utf8.back() = 'x';
    EXPECT_EQ(utf8Failure(utf8), kUtf8SizeError) << length;
    utf8.front() = '\x80';
    EXPECT_EQ(utf8Failure(utf8), kUtf8SizeError) << length;
  }
}

TEST(UtfConvert, EmbeddedZerosAreConverted) {
  const std::string utf8("a\0b\0", 4);
  const std::u16string utf16(u"a\0b\0", 4);
  EXPECT_EQ(plx::utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(plx::utf16ToUtf8(utf16), utf8);
}

// Runs of ASCII are converted several units at a time. A character outside
// ASCII, or an invalid unit, at any offset of such a run is still found; U+0100
// differs from ASCII only in its high byte.
TEST(UtfConvert, CharacterOutsideAsciiIsFoundAtEveryOffsetOfARun) {
  const std::pair<std::string, char16_t> characters[] = {{"\xC4\x80", u'\u0100'},
                                                         {"\xE2\x82\xAC", u'\u20AC'}};
  for (std::size_t offset = 0; offset < 20; ++offset) {
    SCOPED_TRACE(offset);
    for (const auto& [utf8Character, utf16Character] : characters) {
      std::string utf8(20, 'a');
      utf8.replace(offset, 1, utf8Character);
      std::u16string utf16(20, u'a');
      utf16[offset] = utf16Character;
      EXPECT_EQ(plx::utf8ToUtf16(utf8), utf16);
      EXPECT_EQ(plx::utf16ToUtf8(utf16), utf8);
    }
    std::string badUtf8(20, 'a');
    badUtf8[offset] = '\x80';
    EXPECT_EQ(utf8Failure(badUtf8), kUtf8SizeError);
    std::u16string badUtf16(20, u'a');
    badUtf16[offset] = 0xDC00;
    EXPECT_EQ(utf16Failure(badUtf16), kUtf16SizeError);
  }
}

// The contract of the system converters, which the POSIX ones keep: with no
// output the units needed, with exactly that room the units written, with one
// unit less nothing.
TEST(UtfConvertUnits, OutputOneUnitShortIsRefusedAndExactRoomIsFilled) {
  const std::string utf8 = "abcdefghijkl\xC4\x80mnopqrstuvwxyz";
  const std::u16string utf16 = u"abcdefghijkl\u0100mnopqrstuvwxyz";
  const int bytes = static_cast<int>(utf8.size());
  const int units = static_cast<int>(utf16.size());

  ASSERT_EQ(plx::detail::utf8ToUtf16Units(utf8.data(), bytes, nullptr, 0), units);
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  EXPECT_EQ(plx::detail::utf8ToUtf16Units(utf8.data(), bytes, wide.data(), units - 1), 0);
  EXPECT_EQ(plx::detail::utf8ToUtf16Units(utf8.data(), bytes, wide.data(), units), units);
  EXPECT_EQ(wide, utf16);

  ASSERT_EQ(plx::detail::utf16ToUtf8Units(utf16.data(), units, nullptr, 0), bytes);
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  EXPECT_EQ(plx::detail::utf16ToUtf8Units(utf16.data(), units, narrow.data(), bytes - 1), 0);
  EXPECT_EQ(plx::detail::utf16ToUtf8Units(utf16.data(), units, narrow.data(), bytes), bytes);
  EXPECT_EQ(narrow, utf8);
}

TEST(Utf8ToUtf16, MalformedUtf8IsRefused) {
  const std::vector<std::string> malformed = {
      "\x80",              // lone continuation byte
      "abc\x80xyz",        // the same inside text
      "\xC0\x80",          // overlong NUL
      "\xC1\xBF",          // overlong U+007F
      "\xE0\x80\x80",      // overlong three-byte form
      "\xF0\x8F\xBF\xBF",  // overlong four-byte form
      "\xED\xA0\x80",      // encoded high surrogate
      "\xED\xBF\xBF",      // encoded low surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5\x80\x80\x80",  // lead byte that cannot occur
      "\xFF",              // byte that cannot occur
      "\xE2\x82",          // truncated at the end
      "abc\xC3",           // truncated after text
      "\xF0\x9F\x98",      // truncated four-byte form
      "\xC3\x28",          // continuation replaced by ASCII
      "\xE2\x28\xA1",      // the same in the middle of a sequence
  };
  for (const std::string& text : malformed) {
    EXPECT_EQ(utf8Failure(text), kUtf8SizeError) << testing::PrintToString(text);
  }
}

TEST(Utf16ToUtf8, UnpairedSurrogatesAreRefused) {
  const std::vector<std::u16string> unpaired = {
      u"\xD800",              // lone high surrogate
      u"path\xD83D",          // high surrogate at the end of text
      u"\xD83Dx",             // high surrogate before an ordinary unit
      u"\xDC00",              // lone low surrogate
      u"\xDE00\xD83D",        // a pair in the wrong order
      u"\xD83D\xD83D\xDE00",  // two high surrogates
  };
  for (const std::u16string& text : unpaired) {
    EXPECT_EQ(utf16Failure(text), kUtf16SizeError) << testing::PrintToString(text);
  }
}

// A source one unit above the limit is refused by its size alone. One at the
// limit gets past that test and is refused only by its content (its first
// unit is invalid), which shows that the limit itself lets it through. The
// sources are zero pages: 2 GiB and 4 GiB of address space, not of memory.
TEST(Utf8ToUtf16, SourceLongerThanTheLimitIsRefusedBeforeConversion) {
  const kesp::test::ZeroPages pages(kMaxSourceUnits + 1);
  ASSERT_NE(pages.data(), nullptr);
  pages.data()[0] = '\x80';
  EXPECT_EQ(utf8Failure(std::string_view(pages.data(), kMaxSourceUnits + 1)),
            "Error converting string encoding: Source size exceeds the limit for Utf-8 to Utf-16 "
            "conversion");
  EXPECT_EQ(utf8Failure(std::string_view(pages.data(), kMaxSourceUnits)), kUtf8SizeError);
}

TEST(Utf16ToUtf8, SourceLongerThanTheLimitIsRefusedBeforeConversion) {
  const kesp::test::ZeroPages pages((kMaxSourceUnits + 1) * sizeof(char16_t));
  ASSERT_NE(pages.data(), nullptr);
  auto* units = reinterpret_cast<char16_t*>(pages.data());
  units[0] = 0xDC00;
  EXPECT_EQ(utf16Failure(std::u16string_view(units, kMaxSourceUnits + 1)),
            "Error converting string encoding: Source size exceeds the limit for Utf-16 to Utf-8 "
            "conversion");
  EXPECT_EQ(utf16Failure(std::u16string_view(units, kMaxSourceUnits)), kUtf16SizeError);
}

}  // namespace
