// Text conversions, day-count dates and the locale formatting layer.

#include "uDateTime.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConvert, Windows1252)
{
    // The five bytes the code page leaves undefined become the C1 controls, as on Windows.
    EXPECT_EQ(Windows1252ToUtf16("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
    EXPECT_EQ(Windows1252ToUtf16("\x80\x9F\xE9\xFF"), u"\u20AC\u0178\u00E9\u00FF");
    EXPECT_EQ(Windows1252ToUtf16(std::string("A\0B", 3)), std::u16string(u"A\0B", 3));
    EXPECT_EQ(Windows1252ToUtf16(""), u"");
}

TEST(TextConvert, UnicodeForms)
{
    const std::u16string text = u"Stra\u00DFe \u20AC \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\u00E9"), "\xC3\xA9");
    // Ill-formed input is replaced, never dropped or passed on.
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

// A file name's bytes go to UTF-16 and back unchanged, whatever they are; bytes that
// are not UTF-8 become the lone surrogates U+DC80..U+DCFF.
struct TFileNameCase {
    const char* Name;
    std::string Bytes;
    std::u16string Text;
};

class FileNameText : public testing::TestWithParam<TFileNameCase> {};

TEST_P(FileNameText, RoundTripsTheBytes)
{
    const TFileNameCase& c = GetParam();
    EXPECT_EQ(FileNameToUtf16(c.Bytes), c.Text);
    EXPECT_EQ(FileNameFromUtf16(c.Text), c.Bytes);
    EXPECT_EQ(FileNameFromUtf16(FileNameToUtf16(c.Bytes)), c.Bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileNameText,
    testing::Values(TFileNameCase{"Empty", "", u""}, TFileNameCase{"Ascii", "/tmp/x.bak", u"/tmp/x.bak"},
                    TFileNameCase{"Utf8",
                                  "/b\xC3\xA4"
                                  "ckup \xE2\x82\xAC \xF0\x9F\x98\x80.bak",
                                  u"/b\u00E4ckup \u20AC \U0001F600.bak"},
                    TFileNameCase{"ByteOrderMarkBytes", "a\xFF\xFE.bak", u"a\xDCFF\xDCFE.bak"},
                    TFileNameCase{"Latin1", "caf\xE9", u"caf\xDCE9"},
                    // A lead byte whose sequence is cut short: each of its bytes escapes.
                    TFileNameCase{"TruncatedSequence", "\xE2\x82x", u"\xDCE2\xDC82x"},
                    TFileNameCase{"StrayContinuation", "\x80\xBF", u"\xDC80\xDCBF"},
                    TFileNameCase{"Overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
                    // A surrogate encoded in UTF-8 is no character: its bytes escape, so a name can
                    // never turn into the escape of another byte.
                    TFileNameCase{"EncodedSurrogate", "\xED\xB2\x80", u"\xDCED\xDCB2\xDC80"},
                    TFileNameCase{"BeyondUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"}),
    [](const testing::TestParamInfo<TFileNameCase>& info) { return std::string(info.param.Name); });

TEST(TextConvert, FileNameSurrogatesWithoutAByte)
{
    // Lone surrogates outside the escape range have no byte form.
    EXPECT_EQ(FileNameFromUtf16(std::u16string(u"a\xD800"
                                               u"b")),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(FileNameFromUtf16(std::u16string(1, u'\xDC7F')), "\xEF\xBF\xBD");
    // The plain UTF-8 conversion still replaces, and still never passes an escape on.
    EXPECT_EQ(Utf16ToUtf8(FileNameToUtf16("\xFF")), "\xEF\xBF\xBD");
}

TEST(DateTime, DayCounts)
{
    struct TCase {
        TDateTimeParts Parts;
        double Value;
    };
    const std::vector<TCase> cases = {
        {{1899, 12, 30, 0, 0, 0}, 0},      {{1899, 12, 31, 0, 0, 0}, 1},
        {{1900, 1, 1, 12, 0, 0}, 2.5},     {{1899, 12, 29, 6, 0, 0}, -1.25},
        {{1899, 12, 28, 18, 0, 0}, -2.75}, {{2010, 6, 15, 12, 30, 45}, 40344.521354166667},
        {{1, 1, 1, 0, 0, 0}, -693593},     {{9999, 12, 31, 0, 0, 0}, 2958465},
    };
    for (const TCase& c : cases) {
        const auto value = EncodeDateTime(c.Parts);
        ASSERT_TRUE(value.has_value());
        EXPECT_NEAR(*value, c.Value, 1e-9) << c.Value;
        EXPECT_EQ(DecodeDateTime(*value), c.Parts) << c.Value;
    }
    // Rounded to the nearest second, also when that reaches the next day.
    EXPECT_EQ(DecodeDateTime(1.0 - 0.2 / 86400), (TDateTimeParts{1899, 12, 31, 0, 0, 0}));
    EXPECT_EQ(DecodeDateTime(-1 - (86399.8 / 86400)), (TDateTimeParts{1899, 12, 30, 0, 0, 0}));
    EXPECT_EQ(DecodeDateTime(10 + 59.6 / 86400), (TDateTimeParts{1900, 1, 9, 0, 1, 0}));

    EXPECT_FALSE(EncodeDateTime({2011, 2, 29, 0, 0, 0}).has_value());
    EXPECT_TRUE(EncodeDateTime({2012, 2, 29, 0, 0, 0}).has_value());
    EXPECT_FALSE(EncodeDateTime({1900, 2, 29, 0, 0, 0}).has_value());
    EXPECT_FALSE(EncodeDateTime({10000, 1, 1, 0, 0, 0}).has_value());
}

TEST(LocaleFormat, PinnedLocales)
{
    const double afternoon = *EncodeDateTime({2010, 6, 15, 12, 30, 45});
    const double midnight = *EncodeDateTime({2010, 6, 15, 0, 0, 0});
    struct TCase {
        const char* Locale;
        std::u16string DateTime, Date, Zero, Number, Language;
    };
    const std::vector<TCase> cases = {
        {"en_US", u"6/15/2010 12:30:45 PM", u"6/15/2010", u"12/30/1899", u"1,234,567.063",
         u"English (United States)"},
        {"de_DE", u"15.06.2010 12:30:45", u"15.06.2010", u"30.12.1899", u"1.234.567,063",
         u"Englisch (Vereinigte Staaten)"},
    };
    for (const TCase& c : cases) {
        const auto format = MakeIcuLocaleFormat(c.Locale);
        EXPECT_EQ(format->DateTimeText(afternoon, true), c.DateTime) << c.Locale;
        EXPECT_EQ(format->DateTimeText(midnight, true), c.Date) << c.Locale;
        EXPECT_EQ(format->DateTimeText(0, true), c.Zero) << c.Locale;
        EXPECT_EQ(format->GroupedNumber(1234567.0625, 3), c.Number) << c.Locale;
        EXPECT_EQ(format->LanguageName(1033), c.Language) << c.Locale;
        EXPECT_EQ(format->LanguageName(0x1234), u"") << c.Locale;
        EXPECT_EQ(format->LanguageName(0), u"") << c.Locale;
    }
    const auto en = MakeIcuLocaleFormat("en_US");
    EXPECT_EQ(en->DateTimeText(midnight, false), u"6/15/2010 12:00:00 AM");
    EXPECT_EQ(en->GroupedNumber(0.5, 0), u"1");  // halves round away from zero
    EXPECT_EQ(en->GroupedNumber(-1, 0), u"-1");
    EXPECT_EQ(en->GroupedNumber(1.0005, 3), u"1.001");
    // Dates before the Gregorian reform are counted in the same calendar as the day counts.
    EXPECT_EQ(en->DateTimeText(*EncodeDateTime({1000, 1, 1, 0, 0, 1}), true), u"1/1/1000 12:00:01 AM");
    EXPECT_EQ(en->DateTimeText(*EncodeDateTime({1899, 12, 29, 6, 0, 0}), true), u"12/29/1899 6:00:00 AM");
}

}  // namespace
