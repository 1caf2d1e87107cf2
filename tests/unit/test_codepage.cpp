// Letter case and UTF-8 conversion of Windows-1252 text held as bytes.
#include <gtest/gtest.h>

#include <string>

#include "host/CodePage.h"

namespace cp = murmur::codepage;

namespace {

std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

}  // namespace

TEST(CodePageCase, LowersPlainAccentedAndCaronCapitals) {
    EXPECT_EQ(cp::toLower("HeLLo WORLD 09 [@]^_`{"), "hello world 09 [@]^_`{");
    for (int c = 0xC0; c <= 0xDE; ++c) {
        if (c == 0xD7) continue;
        EXPECT_EQ(static_cast<unsigned char>(cp::toLower(static_cast<char>(c))), c + 0x20) << "byte " << c;
    }
    EXPECT_EQ(cp::toLower(byte(0x8A) + byte(0x8C) + byte(0x8E) + byte(0x9F)),
              byte(0x9A) + byte(0x9C) + byte(0x9E) + byte(0xFF));
}

TEST(CodePageCase, LeavesEverythingElseAlone) {
    // The multiplication sign sits among the capitals, and sharp s has no single-byte capital.
    EXPECT_EQ(cp::toLower(byte(0xD7)), byte(0xD7));
    EXPECT_EQ(cp::toLower(byte(0xDF)), byte(0xDF));
    for (int c = 0; c < 256; ++c) {
        bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || c == 0x8A || c == 0x8C ||
                       c == 0x8E || c == 0x9F;
        if (!capital) {
            EXPECT_EQ(static_cast<unsigned char>(cp::toLower(static_cast<char>(c))), c) << "byte " << c;
        }
    }
}

TEST(CodePageCase, EqualsNoCaseComparesLoweredBytes) {
    EXPECT_TRUE(cp::equalsNoCase("Alice", "aLICE"));
    EXPECT_TRUE(cp::equalsNoCase("Z" + byte(0xC9) + byte(0x9F), "z" + byte(0xE9) + byte(0xFF)));
    EXPECT_TRUE(cp::equalsNoCase("", ""));
    EXPECT_FALSE(cp::equalsNoCase("Alice", "Alicia"));
    EXPECT_FALSE(cp::equalsNoCase("Alice", "Alice "));
    EXPECT_FALSE(cp::equalsNoCase(byte(0xDF), "ss"));
    EXPECT_FALSE(cp::equalsNoCase(byte(0xD7), byte(0xF7)));
}

TEST(CodePageUtf8, ToUtf8GivesEachByteItsCharacter) {
    EXPECT_EQ(cp::toUtf8("plain ASCII ~"), "plain ASCII ~");
    EXPECT_EQ(cp::toUtf8(byte(0x80)), "\xE2\x82\xAC");
    EXPECT_EQ(cp::toUtf8(byte(0xE9)), "\xC3\xA9");
    EXPECT_EQ(cp::toUtf8(byte(0x81)), "\xC2\x81");
    EXPECT_EQ(cp::toUtf8(byte(0x9F)), "\xC5\xB8");
    EXPECT_EQ(cp::toUtf8(byte(0xFF)), "\xC3\xBF");
    EXPECT_EQ(cp::toUtf8("caf" + byte(0xE9) + " 5" + byte(0x80)), "caf\xC3\xA9 5\xE2\x82\xAC");
    EXPECT_EQ(cp::toUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePageUtf8, FromUtf8MapsBackAndReplacesWhatTheCodePageLacks) {
    EXPECT_EQ(cp::fromUtf8("plain ASCII ~"), "plain ASCII ~");
    EXPECT_EQ(cp::fromUtf8("\xE2\x82\xAC"), byte(0x80));
    EXPECT_EQ(cp::fromUtf8("\xC3\xA9"), byte(0xE9));
    EXPECT_EQ(cp::fromUtf8("\xC2\x81"), byte(0x81));
    EXPECT_EQ(cp::fromUtf8("\xC5\xB8"), byte(0x9F));
    EXPECT_EQ(cp::fromUtf8("caf\xC3\xA9 5\xE2\x82\xAC"), "caf" + byte(0xE9) + " 5" + byte(0x80));
    EXPECT_EQ(cp::fromUtf8("\xCE\xA9"), "?");                  // Greek Omega
    EXPECT_EQ(cp::fromUtf8("a\xF0\x9F\x98\x80" "b"), "a?b");   // an emoji
    for (int b = 0; b < 256; ++b) EXPECT_EQ(cp::fromUtf8(cp::toUtf8(byte(b))), byte(b)) << "byte " << b;
}

TEST(CodePageUtf8, FromUtf8PassesMalformedBytesThrough) {
    EXPECT_EQ(cp::fromUtf8("caf\xE9"), "caf" + byte(0xE9));                        // Latin-1 typed raw
    EXPECT_EQ(cp::fromUtf8("\xC3"), byte(0xC3));                                   // cut short at the end
    EXPECT_EQ(cp::fromUtf8("\xE2\x82"), "\xE2\x82");
    EXPECT_EQ(cp::fromUtf8("\xC3" "A"), byte(0xC3) + "A");                         // no continuation
    EXPECT_EQ(cp::fromUtf8("\xE2\x82" "A\xC3\xA9"), "\xE2\x82" "A" + byte(0xE9));  // resynchronises
    EXPECT_EQ(cp::fromUtf8("\x80\xBF"), "\x80\xBF");                               // stray continuations
    EXPECT_EQ(cp::fromUtf8("\xFF\xFE"), "\xFF\xFE");
    // Overlong forms are malformed too; decoding them would smuggle '/', NUL or '<' past any
    // check made on the bytes.
    EXPECT_EQ(cp::fromUtf8("\xC0\xAF"), "\xC0\xAF");
    EXPECT_EQ(cp::fromUtf8("\xC0\x80"), "\xC0\x80");
    EXPECT_EQ(cp::fromUtf8("\xE0\x80\xBC"), "\xE0\x80\xBC");
    // So are encoded surrogate halves.
    EXPECT_EQ(cp::fromUtf8("\xED\xA0\x80"), "\xED\xA0\x80");
}

TEST(CodePageUtf8, PrintableEscapesControlCharacters) {
    EXPECT_EQ(cp::toPrintableUtf8("\x1B[2J"), "\\x1B[2J");
    EXPECT_EQ(cp::toPrintableUtf8("a\tb"), "a\\x09b");
    EXPECT_EQ(cp::toPrintableUtf8(std::string("\0\r\n\x1F\x7F", 5)), "\\x00\\x0D\\x0A\\x1F\\x7F");
    EXPECT_EQ(cp::toPrintableUtf8(byte(0x81) + byte(0x8D) + byte(0x8F) + byte(0x90) + byte(0x9D)),
              "\\x81\\x8D\\x8F\\x90\\x9D");
    EXPECT_EQ(cp::toPrintableUtf8(" ~" + byte(0x80) + byte(0x9F) + byte(0xA0) + byte(0xE9) + byte(0xFF)),
              " ~\xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xA9\xC3\xBF");
    EXPECT_EQ(cp::toPrintableUtf8("C:\\dir"), "C:\\dir");
}
