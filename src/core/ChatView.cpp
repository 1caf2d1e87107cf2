#include "core/ChatView.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/Server.h"
#include "host/CodePage.h"

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

namespace {

// How many characters each byte takes as the operator sees it: four for those shown as \xHH.
const std::array<std::uint8_t, 256> kShownWidth = [] {
    std::array<std::uint8_t, 256> widths{};
    for (int b = 0; b < 256; ++b) widths[static_cast<std::size_t>(b)] = codepage::isShownEscaped(static_cast<unsigned char>(b)) ? 4 : 1;
    return widths;
}();

std::size_t shownWidth(char c) { return kShownWidth[static_cast<unsigned char>(c)]; }

}  // namespace

std::string cutForTheOperator(std::string_view text) {
    // Four characters is the widest a byte is shown.
    if (text.size() * 4 <= maxShownPiece) return std::string(text);
    std::size_t shown = 0, at = 0;
    for (; at < text.size(); ++at) {
        std::size_t width = shownWidth(text[at]);
        if (shown + width > maxShownPiece) break;
        shown += width;
    }
    if (at == text.size()) return std::string(text);
    std::size_t more = 0;
    for (std::size_t i = at; i < text.size(); ++i) more += shownWidth(text[i]);
    // 0x85 is the ellipsis of the code page.
    return std::string(text.substr(0, at)) + " \x85 (" + std::to_string(more) + " more characters)";
}

namespace {

void writeLine(Server& server, std::vector<ChatPiece> pieces) {
    pieces.insert(pieces.begin(), ChatPiece{colour::white, formatTimestamp(server.host.clock().now())});
    server.rtbChat.append(std::move(pieces));
}

std::size_t shownLength(const std::vector<ChatPiece>& pieces) {
    std::size_t length = 0;
    for (const auto& piece : pieces)
        for (char c : piece.text) length += shownWidth(c);
    return length;
}

// Whether the client whose packet is being handled may still put the line before the operator.
bool chargeSender(Server& server, const std::vector<ChatPiece>& pieces) {
    int sender = server.currentSender;
    if (sender < 0 || sender >= static_cast<int>(server.sckRecv.size())) return true;
    SocketSlot& slot = server.sckRecv[static_cast<std::size_t>(sender)];
    std::int32_t now = server.host.loop().tickCount();
    std::int64_t elapsed = std::max<std::int64_t>(0, static_cast<std::int64_t>(now) - slot.viewBudgetTick);
    slot.viewBudget = std::min(viewBurst, slot.viewBudget + elapsed * viewCharactersPerSecond / 1000);
    slot.viewBudgetTick = now;
    auto cost = static_cast<std::int64_t>(shownLength(pieces));
    std::string number = std::to_string(sender + 1);
    if (slot.viewBudget < cost) {
        if (slot.linesNotShown++ == 0)
            writeLine(server, {{colour::red, "Connection #" + number +
                                                 " sends more than the operator can read; its lines are not shown for a while."}});
        return false;
    }
    if (slot.linesNotShown > 0) {
        writeLine(server, {{colour::red, std::to_string(slot.linesNotShown) + " lines of connection #" + number +
                                             " were not shown."}});
        slot.linesNotShown = 0;
    }
    slot.viewBudget -= cost;
    return true;
}

}  // namespace

void addChat(Server& server, std::vector<ChatPiece> pieces) {
    for (auto& piece : pieces)
        if (piece.text.size() * 4 > maxShownPiece) piece.text = cutForTheOperator(piece.text);
    if (!chargeSender(server, pieces)) return;
    writeLine(server, std::move(pieces));
}

void addChat(Server& server, std::initializer_list<ChatPiece> pieces) {
    addChat(server, std::vector<ChatPiece>(pieces));
}

}  // namespace murmur
