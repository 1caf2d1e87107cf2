// The CR LF data files: splitting, reading, appending and rewriting.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host/TextFile.h"
#include "support/ServerFixture.h"

namespace tf = murmur::textfile;
using murmur::test::TempDir;
using Lines = std::vector<std::string>;

TEST(TextFileSplit, CrLfPiecesIncludeTheOneAfterTheLastPair) {
    EXPECT_EQ(tf::splitCrLf(""), Lines{});
    EXPECT_EQ(tf::splitCrLf("a\r\nb\r\n"), (Lines{"a", "b", ""}));
    EXPECT_EQ(tf::splitCrLf("a\r\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(tf::splitCrLf("\r\n"), (Lines{"", ""}));
    EXPECT_EQ(tf::splitCrLf("a\r\n\r\nb"), (Lines{"a", "", "b"}));
    // A lone LF or CR is part of the line, not an end of it.
    EXPECT_EQ(tf::splitCrLf("a\nb"), Lines{"a\nb"});
    EXPECT_EQ(tf::splitCrLf("a\rb\n\r\n"), (Lines{"a\rb\n", ""}));
}

TEST(TextFileSplit, SplitKeepsEmptyPieces) {
    EXPECT_EQ(tf::split("", ","), Lines{});
    EXPECT_EQ(tf::split("abc", ","), Lines{"abc"});
    EXPECT_EQ(tf::split(",a,,b,", ","), (Lines{"", "a", "", "b", ""}));
    EXPECT_EQ(tf::split("x::y:z::", "::"), (Lines{"x", "y:z", ""}));
}

TEST(TextFileRead, ReadWholeTellsOkMissingAndFailedApart) {
    TempDir dir;
    std::string text = "left over";
    EXPECT_EQ(tf::readWhole(dir.file("none.txt"), text), tf::ReadStatus::missing);
    EXPECT_EQ(text, "");
    EXPECT_EQ(tf::size(dir.file("none.txt")), -1);
    EXPECT_FALSE(tf::exists(dir.file("none.txt")));
    EXPECT_EQ(tf::readLines(dir.file("none.txt")), Lines{});

    text = "left over";
    EXPECT_EQ(tf::readWhole(dir.path(), text), tf::ReadStatus::failed);
    EXPECT_EQ(text, "");
    EXPECT_EQ(tf::size(dir.path()), -1);
    EXPECT_FALSE(tf::exists(dir.path()));
    EXPECT_EQ(tf::readLines(dir.path()), Lines{});

    const std::string bytes("one\r\ntw\xE9\0\r\n", 11);
    dir.write("data.txt", bytes);
    EXPECT_EQ(tf::readWhole(dir.file("data.txt"), text), tf::ReadStatus::ok);
    EXPECT_EQ(text, bytes);
    EXPECT_EQ(tf::size(dir.file("data.txt")), 11);
    EXPECT_TRUE(tf::exists(dir.file("data.txt")));
    EXPECT_EQ(tf::readLines(dir.file("data.txt")), (Lines{"one", std::string("tw\xE9\0", 4), ""}));

    dir.write("empty.txt", "");
    EXPECT_EQ(tf::readWhole(dir.file("empty.txt"), text), tf::ReadStatus::ok);
    EXPECT_EQ(text, "");
    EXPECT_EQ(tf::size(dir.file("empty.txt")), 0);
}

TEST(TextFileWrite, AppendLineCreatesAndAppends) {
    TempDir dir;
    ASSERT_TRUE(tf::appendLine(dir.file("log.txt"), "first"));
    EXPECT_EQ(dir.read("log.txt"), "first\r\n");
    ASSERT_TRUE(tf::appendLine(dir.file("log.txt"), ""));
    ASSERT_TRUE(tf::appendLine(dir.file("log.txt"), "th\xEDrd"));
    EXPECT_EQ(dir.read("log.txt"), "first\r\n\r\nth\xEDrd\r\n");

    // The line is added at the very end of whatever is there.
    dir.write("open.txt", "unfinished");
    ASSERT_TRUE(tf::appendLine(dir.file("open.txt"), "next"));
    EXPECT_EQ(dir.read("open.txt"), "unfinishednext\r\n");

    EXPECT_FALSE(tf::appendLine(dir.file("no/such/dir.txt"), "x"));
}

TEST(TextFileWrite, RewriteReplacesTheWholeFile) {
    TempDir dir;
    dir.write("list.txt", "old one\r\nold two\r\nold three\r\n");
    ASSERT_TRUE(tf::rewrite(dir.file("list.txt"), {"a", "", "b"}));
    EXPECT_EQ(dir.read("list.txt"), "a\r\n\r\nb\r\n");

    ASSERT_TRUE(tf::rewrite(dir.file("list.txt"), {}));
    EXPECT_TRUE(dir.exists("list.txt"));
    EXPECT_EQ(tf::size(dir.file("list.txt")), 0);

    ASSERT_TRUE(tf::rewrite(dir.file("new.txt"), {"only"}));
    EXPECT_EQ(dir.read("new.txt"), "only\r\n");

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"list.txt", "new.txt"}));

    EXPECT_FALSE(tf::rewrite(dir.file("no/such/dir.txt"), {"x"}));
}

TEST(TextFilePath, PathInJoinsWithOneSlash) {
    EXPECT_EQ(tf::pathIn("", "x.txt"), "x.txt");
    EXPECT_EQ(tf::pathIn("/d", "x.txt"), "/d/x.txt");
    EXPECT_EQ(tf::pathIn("/d/", "x.txt"), "/d/x.txt");
    EXPECT_EQ(tf::pathIn("rel/dir", "x.txt"), "rel/dir/x.txt");
}
