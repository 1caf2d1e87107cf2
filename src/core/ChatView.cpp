#include "core/ChatView.h"

#include <algorithm>
#include <cstdio>

#include "core/Server.h"

namespace murmur {

std::size_t ChatLine::length() const {
    std::size_t n = static_cast<std::size_t>(lineEnd);
    for (const auto& p : pieces) n += p.text.size();
    return n;
}

std::string ChatLine::text() const {
    std::string out;
    for (const auto& p : pieces) out += p.text;
    return out;
}

void ChatView::append(std::vector<ChatPiece> pieces) {
    // The view is tested once per line, before anything is written, so it may pass the threshold
    // by the length of one line.
    if (length_ > trimThreshold) trimFront(trimAmount);
    ChatLine line{std::move(pieces), 2};
    length_ += line.length();
    lines_.push_back(std::move(line));
    for (ChatSink* sink : std::vector<ChatSink*>(sinks_)) sink->lineAdded(lines_.back());
}

void ChatView::clear() {
    lines_.clear();
    length_ = 0;
    for (ChatSink* sink : std::vector<ChatSink*>(sinks_)) sink->cleared();
}

void ChatView::removeSink(ChatSink* sink) { sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end()); }

void ChatView::trimFront(std::size_t characters) {
    std::size_t left = std::min(characters, length_);
    length_ -= left;
    while (left > 0 && !lines_.empty()) {
        ChatLine& first = lines_.front();
        std::size_t len = first.length();
        if (len <= left) {
            left -= len;
            lines_.pop_front();
            continue;
        }
        // The cut falls inside this line: its front characters go, piece by piece.
        auto& pieces = first.pieces;
        while (left > 0 && !pieces.empty()) {
            std::string& text = pieces.front().text;
            std::size_t take = std::min(left, text.size());
            text.erase(0, take);
            left -= take;
            if (text.empty()) pieces.erase(pieces.begin());
        }
        first.lineEnd -= static_cast<int>(left);
        left = 0;
    }
    for (ChatSink* sink : std::vector<ChatSink*>(sinks_)) sink->trimmed(characters);
}

std::string formatTimestamp(const LocalTime& t) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", t.hour, t.minute, t.second);
    return stamp;
}

void addChat(Server& server, std::vector<ChatPiece> pieces) {
    pieces.insert(pieces.begin(), ChatPiece{colour::white, formatTimestamp(server.host.clock().now())});
    server.rtbChat.append(std::move(pieces));
}

void addChat(Server& server, std::initializer_list<ChatPiece> pieces) {
    addChat(server, std::vector<ChatPiece>(pieces));
}

}  // namespace murmur
