#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

using namespace platform;

// Plain ASCII comes through as it is; the first other byte hands the rest to
// the full decoder, whatever stood before it.
TEST(TextEncoding, AsciiAndWellFormedTextPassAndDamageAfterAnyPrefixIsReplaced) {
    EXPECT_EQ(utf8Lossy("file0001.dat"), "file0001.dat");
    EXPECT_EQ(utf8Lossy("Résumé 📷"), "Résumé 📷");
    EXPECT_EQ(utf8Lossy("name\xFF.txt"), "name\xEF\xBF\xBD.txt");
    EXPECT_EQ(utf8Lossy("ab\xC3"), "ab\xEF\xBF\xBD");                               // cut short
    EXPECT_EQ(utf8Lossy("x\xED\xA0\x80"), "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a surrogate
    EXPECT_EQ(utf8Lossy(""), "");
    EXPECT_FALSE(isValidUtf8("abc\xC0\xAF")); // overlong after ASCII
    EXPECT_TRUE(isValidUtf8("abc\xF0\x9F\x93\xB7"));

    EXPECT_EQ(utf16FromUtf8("plain.txt"), u"plain.txt");
    EXPECT_EQ(utf16FromUtf8("ab\xC3\xA9 \xF0\x9F\x93\xB7"), u"ab\u00E9 \U0001F4F7");
    EXPECT_EQ(utf16FromUtf8("ab\xFFz"), u"ab\uFFFDz");
    EXPECT_EQ(utf16FromUtf8(""), u"");
}
