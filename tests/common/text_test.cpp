// The same table runs against MultiByteToWideChar under Wine and against the portable twin, so a
// difference between the two builds is a failing test.
#include <gtest/gtest.h>

#include "common/text.h"

namespace {

struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

const Case kDecodeCases[] = {
    {"empty", "", u""},
    {"ascii", "C:\\Games", u"C:\\Games"},
    {"embedded_nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"two_byte", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
    {"cyrillic", "\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B", u"\u0418\u0433\u0440\u044B"},
    {"three_byte", "\xE2\x82\xAC", u"\u20AC"},
    {"four_byte_is_a_surrogate_pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
    {"lone_continuation", "\x80", u"\xFFFD"},
    {"two_continuations", "\x80\xBF", u"\xFFFD\xFFFD"},
    {"truncated_two_byte_at_end", "a\xC3", u"a\xFFFD"},
    {"truncated_three_byte_then_ascii",
     "\xE2\x82"
     "a",
     u"\xFFFD"
     "a"},
    {"truncated_four_byte", "\xF0\x9F\x98", u"\xFFFD"},
    {"overlong_two_byte_nul", "\xC0\x80", u"\xFFFD\xFFFD"},
    {"overlong_three_byte_slash", "\xE0\x80\xAF", u"\xFFFD\xFFFD"},
    {"encoded_surrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD"},
    {"above_unicode_range", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD"},
    {"byte_ff", "x\xFFy", u"x\xFFFDy"},
    {"overlong_four_byte", "\xF0\x8F\xBF\xBF", u"\xFFFD\xFFFD\xFFFD"},
    {"surrogate_range_lead_then_ascii", "\xED\xBFz", u"\xFFFDz"},
    {"five_byte_form", "\xF8\x88\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD"},
    {"highest_code_point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
};

TEST(Utf8ToUtf16, MatchesTheSystemTableIncludingInvalidSequences) {
    for (const Case& c : kDecodeCases) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.name;
    }
}

TEST(Utf16ToUtf8, EncodesValidTextAndReplacesLoneSurrogates) {
    EXPECT_EQ(Utf16ToUtf8(u""), "");
    EXPECT_EQ(Utf16ToUtf8(u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(u"a\xD83D"), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(u"\xDE00z"), "\xEF\xBF\xBDz");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextConversion, ValidTextSurvivesTheRoundTrip) {
    for (const Case& c : kDecodeCases) {
        if (c.utf16.find(u'\xFFFD') != std::u16string::npos) continue;
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(c.utf8)), c.utf8) << c.name;
    }
}

TEST(AsciiLower, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(AsciiLowerCopy("HTTPS://Srv-01\xC3\x89"), "https://srv-01\xC3\x89");
}

}  // namespace
