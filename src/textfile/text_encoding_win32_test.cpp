// The system code page as Windows gives it: which code pages keep their
// bytes, and the platform's conversions for those that are decoded.

#include "textfile/text_encoding.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "failure/failure.h"
#include "testing/failure_of.h"

namespace ncrewrite {
namespace {

using Kind = TextEncoding::Kind;

struct CodePageCase {
  std::uint32_t code_page;
  bool keeps_bytes;
  Kind kind;
};

TEST(CodePageEncoding, KeepsTheBytesOfEveryCodePageWithAsciiAndNoLowTrailBytes) {
  const CodePageCase cases[] = {
      // 8-bit code pages that keep ASCII: a table of their own.
      {1250, true, Kind::kSingleByte},
      {1251, true, Kind::kSingleByte},
      {1253, true, Kind::kSingleByte},  // bytes it lacks become private-use characters
      {874, true, Kind::kSingleByte},
      {850, true, Kind::kSingleByte},
      // The East Asian double-byte code pages and UTF-8: the platform's
      // conversion for the decoded view, the bytes for everything else.
      {932, true, Kind::kCodePage},
      {936, true, Kind::kCodePage},
      {949, true, Kind::kCodePage},
      {950, true, Kind::kCodePage},
      {65001, true, Kind::kCodePage},
      // EBCDIC: "M" is 0xD4, a line feed 0x25.
      {37, false, Kind::kCodePage},
      {500, false, Kind::kCodePage},
      // Johab: trail bytes from 0x31 on.
      {1361, false, Kind::kCodePage},
  };
  for (const CodePageCase& c : cases) {
    const auto encoding = MakeCodePageEncoding(c.code_page);
    EXPECT_EQ(encoding->code_page, c.code_page);
    EXPECT_EQ(encoding->keeps_bytes, c.keeps_bytes) << c.code_page;
    EXPECT_EQ(encoding->kind, c.kind) << c.code_page;
    EXPECT_EQ(encoding->units, UnitFormat::kByte) << c.code_page;
    // No mark is ever added to a file whose bytes are kept, not even in
    // UTF-8; none of the others here has one either.
    EXPECT_EQ(encoding->byte_order_mark, "") << c.code_page;
    EXPECT_EQ(&StoredEncodingOf(*encoding),
              c.keeps_bytes ? encoding.get() : &Utf16LeEncoding())
        << c.code_page;
  }
}

TEST(CodePageEncoding, Windows1252IsTheEncodingThatLinuxUses) {
  // The platform's table for 1252 is the one built in: the same bytes and
  // characters on both systems.
  EXPECT_EQ(MakeCodePageEncoding(1252).get(), &Windows1252Encoding());
}

TEST(CodePageEncoding, UnknownCodePageIsAnEncodingFailure) {
  for (const std::uint32_t code_page : {12345u, 0xFFFFu}) {
    const Failure failure = testing::FailureOf([&] { MakeCodePageEncoding(code_page); });
    EXPECT_EQ(failure.kind(), "EEncodingError") << code_page;
    EXPECT_EQ(failure.message(), "Ungültige Codeseite") << code_page;
  }
}

TEST(CodePageEncoding, SystemCodePageIsTheOneWindowsReports) {
  EXPECT_EQ(SystemCodePage().code_page, ::GetACP());
  EXPECT_EQ(&SystemCodePage(), &SystemCodePage());
}

struct ConversionCase {
  std::uint32_t code_page;
  std::string_view bytes;
  std::u16string_view text;
};

TEST(CodePageEncoding, DecodesAndEncodesWithThePlatformsConversion) {
  const ConversionCase cases[] = {
      {932, "M80 (\x83\x65\x83\x58\x83\x67)", u"M80 (テスト)"},
      {936, "\xD6\xD0\xCE\xC4", u"中文"},
      {949, "\xC7\xD1\xB1\xDB", u"한글"},
      {950, "\xA4\xA4\xA4\xE5", u"中文"},
      {65001, "\xC3\xA4\xF0\x9F\x98\x80", u"ä\U0001F600"},
      {1251, "\xCF\xF0\xE8", u"При"},
      {37, "\xD4\xF8\xF0\x0D\x25\x40", u"M80\r\n "},
  };
  for (const ConversionCase& c : cases) {
    const auto encoding = MakeCodePageEncoding(c.code_page);
    EXPECT_EQ(DecodeText(*encoding, c.bytes), c.text) << c.code_page;
    EXPECT_EQ(EncodeText(*encoding, c.text), c.bytes) << c.code_page;
  }
}

TEST(CodePageEncoding, ConversionsNeverFail) {
  // What the platform makes of what a code page lacks is its own rule;
  // here only that something comes out, and ASCII around it stays.
  const auto shift_jis = MakeCodePageEncoding(932);
  const std::u16string decoded = DecodeText(*shift_jis, "A\x80" "B");
  EXPECT_EQ(decoded.front(), u'A');
  EXPECT_EQ(decoded.back(), u'B');
  const std::string encoded = EncodeText(*shift_jis, u"A\u00e4\U0001F600B");
  EXPECT_EQ(encoded.front(), 'A');
  EXPECT_EQ(encoded.back(), 'B');
  // An unpaired surrogate in UTF-8 becomes U+FFFD.
  EXPECT_EQ(EncodeText(*MakeCodePageEncoding(65001), u"\xD800" u"A"), "\xEF\xBF\xBD" "A");
  EXPECT_EQ(DecodeText(*shift_jis, ""), u"");
  EXPECT_EQ(EncodeText(*shift_jis, u""), "");
}

}  // namespace
}  // namespace ncrewrite
