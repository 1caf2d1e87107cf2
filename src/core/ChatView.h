// The operator's chat view as a model: timestamped lines of coloured pieces. The window renders
// it, the terminal prints it, the chat log writes it; nobody else formats operator output.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/Host.h"

namespace murmur {

struct Server;

// 24-bit colours with red in the low byte.
using Colour = std::uint32_t;
namespace colour {
constexpr Colour red = 255;
constexpr Colour yellow = 65535;
constexpr Colour green = 65280;
constexpr Colour cyan = 16776960;
constexpr Colour white = 16777215;
constexpr Colour blue = 13395456;
}  // namespace colour

struct ChatPiece {
    Colour colour = colour::white;
    std::string text;
    bool operator==(const ChatPiece&) const = default;
};

struct ChatLine {
    std::vector<ChatPiece> pieces;  // the first is the white timestamp
    int lineEnd = 2;                // CR LF; fewer when a trim cut into it
    std::size_t length() const;
    // The pieces' texts, end to end, without the line end.
    std::string text() const;
};

class ChatSink {
public:
    virtual ~ChatSink() = default;
    virtual void lineAdded(const ChatLine& line) = 0;
    virtual void trimmed(std::size_t /*characters*/) {}
    virtual void cleared() {}
};

class ChatView {
public:
    static constexpr std::size_t trimThreshold = 100000;
    static constexpr std::size_t trimAmount = 50000;

    void append(std::vector<ChatPiece> pieces);
    void clear();
    std::size_t length() const { return length_; }
    const std::deque<ChatLine>& lines() const { return lines_; }

    void addSink(ChatSink* sink) { sinks_.push_back(sink); }
    void removeSink(ChatSink* sink);

private:
    void trimFront(std::size_t characters);

    std::deque<ChatLine> lines_;
    std::size_t length_ = 0;
    std::vector<ChatSink*> sinks_;
};

// "[HH:MM:SS] ", the timestamp every operator line starts with.
std::string formatTimestamp(const LocalTime& time);

// What one client may put before the operator: no piece longer than this, in characters as shown,
// and no more than a burst and a steady rate of characters, so that the view, the terminal and the
// chat log never grow by more than a few MB a minute for one client.
constexpr std::size_t maxShownPiece = 2000;
constexpr std::int64_t viewBurst = 256 * 1024;
constexpr std::int64_t viewCharactersPerSecond = 32 * 1024;

// The text as the operator sees it: longer than maxShownPiece characters as shown (a control
// character shows as four), it is cut there and " … (N more characters)" follows.
std::string cutForTheOperator(std::string_view text);

// Writes one line: the white timestamp "[HH:MM:SS] " and the pieces, in order. A line caused by a
// client's packet is charged to that client and not shown when its share is spent.
void addChat(Server& server, std::initializer_list<ChatPiece> pieces);
void addChat(Server& server, std::vector<ChatPiece> pieces);

}  // namespace murmur
