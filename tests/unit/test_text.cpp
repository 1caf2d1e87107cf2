// The text the server keeps on disk and shows: MMConf.ini, the CR LF data files, and code-page bytes.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>

#include "core/Settings.h"
#include "host/CodePage.h"
#include "host/IniFile.h"
#include "host/TextFile.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

TEST(IniFile, ReadsLikeAPrivateProfileAndRewritesOnlyTheKeyLines) {
    IniDocument ini("; notes\r\n[Server]\r\n Port = 4800 \r\n;Protocol=1\r\nName=\"  q  \"\r\nMixed=\"x'\r\nSum=a=b\r\n"
                    "Long=" + std::string(300, 'v') + "\r\n\r\n[Limits]\nIdle Time=60\n\n[\xC9T\xC9]\r\nA=1");
    const std::vector<std::array<std::string, 3>> reads = {
        {"SERVER", "port", "4800"}, {"Server", "Protocol", ""}, {"Server", "Name", "  q  "}, {"Server", "Mixed", "\"x'"},
        {"Server", "Sum", "a=b"}, {"Server", "Long", std::string(254, 'v')}, {"limits", "IDLE TIME", "60"},
        {"Limits", "Port", ""}, {"\xE9t\xE9", "a", "1"},
    };
    for (const auto& [section, key, value] : reads) EXPECT_EQ(ini.get(section, key), value) << section << "/" << key;
    ini.set("server", "PORT", "4801");
    ini.set("Server", "Protocol", "2");
    ini.set("Limits", "Idle", "on");
    ini.set("Spam Control", "Enabled", "Y");
    EXPECT_EQ(ini.text(), "; notes\r\n[Server]\r\nPORT=4801\r\n;Protocol=1\r\nName=\"  q  \"\r\nMixed=\"x'\r\nSum=a=b\r\n"
                          "Long=" + std::string(300, 'v') + "\r\nProtocol=2\r\n\r\n[Limits]\r\nIdle Time=60\r\nIdle=on\r\n\r\n"
                          "[\xC9T\xC9]\r\nA=1\r\n[Spam Control]\r\nEnabled=Y\r\n");
}

TEST(SettingsNumbers, AcceptDecimalExponentAndRadixFormsRoundedHalfToEvenIntoSixteenBits) {
    using Parsed = std::optional<double>;
    EXPECT_EQ(std::vector<Parsed>({parseNumeric(" 48 "), parseNumeric("-.5"), parseNumeric("1.5E+2"), parseNumeric("&h1F"), parseNumeric("&O17")}),
              std::vector<Parsed>({48, -.5, 150, 31, 15}));
    for (const char* bad : {"", "abc", "12abc", "1,000", ".", "1e", "- 5", "&H", "&O8", "0x1F"})
        EXPECT_EQ(parseNumeric(bad), std::nullopt) << bad;
    using Fitted = std::optional<std::int16_t>;
    EXPECT_EQ(std::vector<Fitted>({toInt16(2.5), toInt16(3.5), toInt16(-2.5), toInt16(32767.4), toInt16(32767.5), toInt16(-32768.6)}),
              std::vector<Fitted>({2, 4, -2, 32767, std::nullopt, std::nullopt}));
}

TEST(TextFile, LinesEndInCrLfAndFilesAreReadWholeAppendedOrRewritten) {
    EXPECT_EQ(textfile::splitCrLf(""), Lines{});
    EXPECT_EQ(textfile::splitCrLf("a\r\nb\nc\r\n"), (Lines{"a", "b\nc", ""}));
    TempDir dir;
    std::string text = "left over";
    EXPECT_EQ(textfile::readWhole(dir.file("none.txt"), text), textfile::ReadStatus::missing);
    EXPECT_EQ(textfile::readWhole(dir.path(), text), textfile::ReadStatus::failed);
    EXPECT_EQ(text, "");
    dir.write("list.txt", "unfinished");
    ASSERT_TRUE(textfile::appendLine(dir.file("list.txt"), "next"));
    EXPECT_EQ(dir.read("list.txt"), "unfinishednext\r\n");
    ASSERT_TRUE(textfile::rewrite(dir.file("list.txt"), {"a", "", "b"}));
    EXPECT_EQ(dir.read("list.txt"), "a\r\n\r\nb\r\n");
    EXPECT_FALSE(dir.exists("list.txt.tmp"));
}

TEST(CodePage, LowerCaseUtf8AndPrintableEscapes) {
    EXPECT_EQ(codepage::toLower("AZ@[\xC0\xD6\xD7\xD8\xDE\xDF\x8A\x8C\x8E\x9F"), "az@[\xE0\xF6\xD7\xF8\xFE\xDF\x9A\x9C\x9E\xFF");
    EXPECT_TRUE(codepage::equalsNoCase("\xC9ve", "\xE9VE"));
    EXPECT_EQ(codepage::toUtf8("caf\xE9 \x80\x81\x9F"), "caf\xC3\xA9 \xE2\x82\xAC\xC2\x81\xC5\xB8");
    EXPECT_EQ(codepage::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC\xCE\xA9\xF0\x9F\x98\x80"), "caf\xE9 \x80??");
    // Bytes that are no shortest UTF-8 pass as they are, so '/' or NUL cannot be smuggled in.
    EXPECT_EQ(codepage::fromUtf8("caf\xE9 \xC3" "A \xC0\xAF \xE0\x80\xBC \xED\xA0\x80"), "caf\xE9 \xC3" "A \xC0\xAF \xE0\x80\xBC \xED\xA0\x80");
    for (int b = 0; b < 256; ++b) EXPECT_EQ(codepage::fromUtf8(codepage::toUtf8(std::string(1, char(b)))), std::string(1, char(b)));
    EXPECT_EQ(codepage::toPrintableUtf8(std::string("\x1B[2J\0\t\x7F\x81\x9D\x80\xA0\\", 12)),
              "\\x1B[2J\\x00\\x09\\x7F\\x81\\x9D\xE2\x82\xAC\xC2\xA0\\");
}

}  // namespace
}  // namespace murmur::test
