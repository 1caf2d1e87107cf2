// The operator's console over the control socket, as both ends see it: where the socket is, and
// the lines they exchange. The server writes chat-view lines with their colours, so that an
// attached terminal shows them exactly as the headless output does; a console writes console
// entries, one a line, in UTF-8 as a terminal types them.
//
// Lines from the server, each ended by a line feed:
//   "L" then, for every piece, a tab, the colour as six hexadecimal digits and the piece's text;
//   "B" once the backlog is out: every line after it is new;
//   "N" and a text: a word from the control socket itself (a refusal, why the console was let go).
// Texts are code-page bytes as the server holds them; a byte below 0x20 and the backslash are
// written as a backslash and two hexadecimal digits, so no text can hold a tab or a line end.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <string_view>

#include "core/ChatView.h"

namespace murmur::consolelink {

constexpr const char* socketName = "murmur.sock";
// The lines a console that attaches is shown first.
constexpr std::size_t backlogLines = 500;
// The longest console entry; a console that sends a longer one is let go.
constexpr std::size_t maxEntry = 65536;

// The control socket of the server on the data directory: in $RUNTIME_DIRECTORY when the service
// manager gives the server one, otherwise in the data directory itself.
std::string socketPath(const std::string& dataDirectory);

// A UNIX-domain address for a path. A path too long for an address is reached through an open
// descriptor of its folder, which the address holds while it lives.
class SocketAddress {
public:
    explicit SocketAddress(const std::string& path);
    ~SocketAddress();
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;

    bool valid() const { return length_ > 0; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t length() const { return length_; }
    // The path as the address names it, for calls that take a path.
    const char* name() const { return address_.sun_path; }

private:
    sockaddr_un address_{};
    socklen_t length_ = 0;
    int folder_ = -1;
};

// A connected stream socket to the path, or -1 with errno set.
int connectTo(const SocketAddress& address);

enum class Kind { line, backlogEnd, notice, unknown };

struct Message {
    Kind kind = Kind::unknown;
    ChatLine line;     // for a line
    std::string text;  // for a notice, in code-page bytes
};

std::string encodeLine(const ChatLine& line);
std::string encodeNotice(std::string_view text);
constexpr std::string_view backlogEnd = "B\n";
// One line as it came, without its line feed. A line that cannot be read is of kind unknown.
Message decode(std::string_view line);

}  // namespace murmur::consolelink
