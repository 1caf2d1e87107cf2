// MMConf.ini: private-profile reads and writes, and the numbers the settings accept from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "core/Settings.h"
#include "host/CodePage.h"
#include "host/IniFile.h"
#include "support/ServerFixture.h"

using murmur::IniDocument;
using murmur::test::TempDir;

namespace {

// What an operator's hand-edited file looks like: comments, odd spacing, quotes, a section saved
// by an editor that ends lines with LF only, and a key given twice.
const std::string kEdited =
    "; Murmur settings\r\n"
    "[Server]\r\n"
    "Port = 4800 \r\n"
    "\tProtocol=\t1\t\r\n"
    ";Authentication=no\r\n"
    "Name=\"  quoted  \"\r\n"
    "Single='x'\r\n"
    "Mixed=\"x'\r\n"
    "Bare=\"\r\n"
    "Sum=a=b\r\n"
    "Port=9999\r\n"
    "\r\n"
    "[Limits]\n"
    "Idle Time=60\n"
    "Empty=\n"
    "NoEquals\n"
    "\n"
    "[ R\xC9GLAGES ]\r\n"
    "\xC9t\xC9=chaud\r\n";

}  // namespace

TEST(IniRead, FindsSectionsAndKeysWithoutRegardToCase) {
    IniDocument ini(kEdited);
    EXPECT_EQ(ini.get("Server", "Port"), "4800");
    EXPECT_EQ(ini.get("SERVER", "port"), "4800");
    EXPECT_EQ(ini.get("server", "PROTOCOL"), "1");
    EXPECT_EQ(ini.get("limits", "idle time"), "60");
    EXPECT_EQ(ini.get("r\xE9glages", "\xE9t\xE9"), "chaud");
    EXPECT_TRUE(ini.has("Server", "Port"));
}

TEST(IniRead, ValuesAreTrimmedUnquotedAndCut) {
    IniDocument ini(kEdited);
    EXPECT_EQ(ini.get("Server", "Name"), "  quoted  ");
    EXPECT_EQ(ini.get("Server", "Single"), "x");
    EXPECT_EQ(ini.get("Server", "Mixed"), "\"x'");
    EXPECT_EQ(ini.get("Server", "Bare"), "\"");
    EXPECT_EQ(ini.get("Server", "Sum"), "a=b");
    EXPECT_EQ(ini.get("Limits", "Empty"), "");
    EXPECT_TRUE(ini.has("Limits", "Empty"));

    const std::string longValue(300, 'v');
    IniDocument big("[S]\r\nLong=" + longValue + "\r\nExact=" + std::string(254, 'e') + "\r\n");
    EXPECT_EQ(big.get("S", "Long"), std::string(254, 'v'));
    EXPECT_EQ(big.get("S", "Exact"), std::string(254, 'e'));
}

TEST(IniRead, MissingCommentedAndRepeatedKeys) {
    IniDocument ini(kEdited);
    EXPECT_EQ(ini.get("Nowhere", "Port"), "");
    EXPECT_EQ(ini.get("Server", "Nothing"), "");
    EXPECT_FALSE(ini.has("Server", "Nothing"));
    EXPECT_EQ(ini.get("Server", "Authentication"), "");
    EXPECT_EQ(ini.get("Server", ";Authentication"), "");
    EXPECT_EQ(ini.get("Limits", "NoEquals"), "");
    EXPECT_EQ(ini.get("Limits", "Port"), "");  // keys belong to their own section only
    EXPECT_EQ(ini.get("Server", "Idle Time"), "");
    EXPECT_EQ(IniDocument("").get("Server", "Port"), "");
    EXPECT_EQ(IniDocument("Port=1\r\n").get("", "Port"), "");
}

TEST(IniWrite, KeepsEveryOtherLineAsItWas) {
    IniDocument ini(kEdited);
    ini.set("Server", "Port", "4801");
    ini.set("Limits", "Idle Time", "90");
    // Only the two key lines change; the LF-only lines now end in CR LF.
    EXPECT_EQ(ini.text(),
              "; Murmur settings\r\n"
              "[Server]\r\n"
              "Port=4801\r\n"
              "\tProtocol=\t1\t\r\n"
              ";Authentication=no\r\n"
              "Name=\"  quoted  \"\r\n"
              "Single='x'\r\n"
              "Mixed=\"x'\r\n"
              "Bare=\"\r\n"
              "Sum=a=b\r\n"
              "Port=9999\r\n"
              "\r\n"
              "[Limits]\r\n"
              "Idle Time=90\r\n"
              "Empty=\r\n"
              "NoEquals\r\n"
              "\r\n"
              "[ R\xC9GLAGES ]\r\n"
              "\xC9t\xC9=chaud\r\n");
    EXPECT_EQ(ini.get("Server", "Port"), "4801");

    const std::string tidy = "[A]\r\nx=1\r\n\r\n; end\r\n";
    EXPECT_EQ(IniDocument(tidy).text(), tidy);
    EXPECT_EQ(IniDocument("[A]\r\nx=1").text(), "[A]\r\nx=1\r\n");
}

TEST(IniWrite, AddsMissingKeysAndSectionsWhereTheyBelong) {
    IniDocument ini(
        "[Server]\r\n"
        "Port=4800\r\n"
        "; last word\r\n"
        "\r\n"
        "\r\n"
        "[Limits]\r\n"
        "\r\n"
        "[Tail]\r\n"
        "A=1");
    ini.set("Server", "Protocol", "2");
    ini.set("LIMITS", "IdleTime", "60");
    ini.set("Tail", "B", "2");
    ini.set("Spam Control", "Messages", "5");
    EXPECT_EQ(ini.text(),
              "[Server]\r\n"
              "Port=4800\r\n"
              "; last word\r\n"
              "Protocol=2\r\n"
              "\r\n"
              "\r\n"
              "[Limits]\r\n"
              "IdleTime=60\r\n"
              "\r\n"
              "[Tail]\r\n"
              "A=1\r\n"
              "B=2\r\n"
              "[Spam Control]\r\n"
              "Messages=5\r\n");
    EXPECT_EQ(ini.get("limits", "idletime"), "60");
    EXPECT_EQ(ini.get("spam control", "messages"), "5");

    IniDocument empty;
    empty.set("Server", "Port", "4800");
    EXPECT_EQ(empty.text(), "[Server]\r\nPort=4800\r\n");
    IniDocument fromEmptyText("");
    fromEmptyText.set("Server", "Port", "4800");
    EXPECT_EQ(fromEmptyText.text(), "[Server]\r\nPort=4800\r\n");
}

TEST(IniWrite, ReplacingAKeyGivenInAnotherCaseLeavesOneLine) {
    IniDocument ini("[server]\r\nport=1\r\nOther=2\r\n");
    ini.set("SERVER", "PORT", "2");
    EXPECT_EQ(ini.get("Server", "Port"), "2");
    // However the key line is spelled now, it is the only one and the rest stays as it was.
    const std::string text = ini.text();
    EXPECT_EQ(murmur::codepage::toLower(text), "[server]\r\nport=2\r\nother=2\r\n");
    EXPECT_EQ(text.substr(0, 10), "[server]\r\n");
    EXPECT_EQ(text.substr(text.size() - 9), "Other=2\r\n");
}

TEST(IniFileOnDisk, ReadAndWriteOneKey) {
    TempDir dir;
    const std::string path = dir.file("MMConf.ini");
    EXPECT_EQ(murmur::readIni(path, "Server", "Port"), "");

    ASSERT_TRUE(murmur::writeIni(path, "Server", "Port", "4800"));
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=4800\r\n");
    ASSERT_TRUE(murmur::writeIni(path, "Server", "Protocol", "1"));
    ASSERT_TRUE(murmur::writeIni(path, "server", "port", "4801"));
    EXPECT_EQ(murmur::readIni(path, "SERVER", "PORT"), "4801");
    EXPECT_EQ(murmur::readIni(path, "Server", "Protocol"), "1");

    dir.write("Hand.ini", "; keep\n[Server]\nPort= 23 \n\n[Other]\nX=y\n");
    EXPECT_EQ(murmur::readIni(dir.file("Hand.ini"), "Server", "Port"), "23");
    ASSERT_TRUE(murmur::writeIni(dir.file("Hand.ini"), "Server", "Idle", "on"));
    EXPECT_EQ(dir.read("Hand.ini"), "; keep\r\n[Server]\r\nPort= 23 \r\nIdle=on\r\n\r\n[Other]\r\nX=y\r\n");

    EXPECT_FALSE(dir.exists("MMConf.ini.tmp"));
    EXPECT_FALSE(dir.exists("Hand.ini.tmp"));

    // A path that cannot be read as a file is neither read nor overwritten.
    std::filesystem::create_directory(dir.file("Folder.ini"));
    EXPECT_EQ(murmur::readIni(dir.file("Folder.ini"), "Server", "Port"), "");
    EXPECT_FALSE(murmur::writeIni(dir.file("Folder.ini"), "Server", "Port", "1"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Folder.ini")));
}

TEST(SettingsNumbers, ParseNumericAcceptsDecimalExponentAndRadixForms) {
    using murmur::parseNumeric;
    EXPECT_EQ(parseNumeric("4800"), 4800.0);
    EXPECT_EQ(parseNumeric("  4800  "), 4800.0);
    EXPECT_EQ(parseNumeric("-12"), -12.0);
    EXPECT_EQ(parseNumeric("+12"), 12.0);
    EXPECT_EQ(parseNumeric("2.5"), 2.5);
    EXPECT_EQ(parseNumeric(".5"), 0.5);
    EXPECT_EQ(parseNumeric("5."), 5.0);
    EXPECT_EQ(parseNumeric("1e3"), 1000.0);
    EXPECT_EQ(parseNumeric("1.5E+2"), 150.0);
    EXPECT_EQ(parseNumeric("25e-1"), 2.5);
    EXPECT_EQ(parseNumeric("&H1F"), 31.0);
    EXPECT_EQ(parseNumeric("&h1f"), 31.0);
    EXPECT_EQ(parseNumeric("&O17"), 15.0);
    EXPECT_EQ(parseNumeric(" &H12C0 "), 4800.0);

    for (const char* bad : {"", "   ", "abc", "12abc", "1,000", ".", "e5", "-", "+.", "1e", "1e+", "12 34", "- 5",
                            "&H", "&HG", "&O8", "&X12", "0x1F", "1..2"})
        EXPECT_EQ(parseNumeric(bad), std::nullopt) << '"' << bad << '"';
}

TEST(SettingsNumbers, ToInt16RoundsHalvesToEvenWithinRange) {
    using murmur::toInt16;
    EXPECT_EQ(toInt16(2.5), std::optional<std::int16_t>(2));
    EXPECT_EQ(toInt16(3.5), std::optional<std::int16_t>(4));
    EXPECT_EQ(toInt16(-2.5), std::optional<std::int16_t>(-2));
    EXPECT_EQ(toInt16(2.6), std::optional<std::int16_t>(3));
    EXPECT_EQ(toInt16(-0.4), std::optional<std::int16_t>(0));
    EXPECT_EQ(toInt16(32767.4), std::optional<std::int16_t>(32767));
    EXPECT_EQ(toInt16(32767.5), std::nullopt);
    EXPECT_EQ(toInt16(32768.0), std::nullopt);
    EXPECT_EQ(toInt16(-32768.0), std::optional<std::int16_t>(-32768));
    EXPECT_EQ(toInt16(-32768.5), std::optional<std::int16_t>(-32768));
    EXPECT_EQ(toInt16(-32768.6), std::nullopt);

    using murmur::parseInt16;
    EXPECT_EQ(parseInt16(" 4800 "), std::optional<std::int16_t>(4800));
    EXPECT_EQ(parseInt16("&H7FFF"), std::optional<std::int16_t>(32767));
    EXPECT_EQ(parseInt16("4.8e3"), std::optional<std::int16_t>(4800));
    EXPECT_EQ(parseInt16("99999"), std::nullopt);
    EXPECT_EQ(parseInt16("80 0"), std::nullopt);
    EXPECT_EQ(parseInt16(""), std::nullopt);
}
