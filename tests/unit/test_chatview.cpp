// The chat view model: timestamped coloured lines, and how it is kept from growing for ever.
#include <gtest/gtest.h>

#include "core/ChatView.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using ChatViewTest = ServerTest;

TEST_F(ChatViewTest, ALineIsTheWhiteTimestampThenEachPieceInItsColour) {
    host.time = {2026, 12, 7, 9, 5, 3};
    addChat(*server, {{colour::red, "x"}, {colour::yellow, "y"}});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[09:05:03] "}, {colour::red, "x"}, {colour::yellow, "y"}}));
    EXPECT_EQ(server->rtbChat.length(), 15u);  // the line end counts as CR LF
}

TEST_F(ChatViewTest, TheViewIsTrimmedOnlyOnceItHoldsMoreThanTheThreshold) {
    // 11 timestamp characters, 87 of text and the line end: 100 characters a line.
    std::string text(87, 'a');
    for (int i = 0; i < 1000; ++i) addChat(*server, {{colour::white, text}});
    ASSERT_EQ(server->rtbChat.length(), 100000u);
    addChat(*server, {{colour::white, text}});
    EXPECT_EQ(server->rtbChat.length(), 100100u);  // exactly at the threshold: nothing goes

    addChat(*server, {{colour::red, "next"}});
    EXPECT_EQ(server->rtbChat.length(), 100100u - 50000u + 17u);
    EXPECT_EQ(server->rtbChat.lines().size(), 1001u - 500u + 1u);
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::red, "next"}));

    // A cut inside a line keeps the rest of that line.
    server->rtbChat.clear();
    for (int i = 0; i < 1001; ++i) addChat(*server, {{colour::white, std::string(87 + (i == 0 ? 10 : 0), 'b')}});
    addChat(*server, {{colour::white, "c"}});
    EXPECT_EQ(server->rtbChat.lines().front().text(), std::string(8, 'b'));
}

}  // namespace
}  // namespace murmur::test
