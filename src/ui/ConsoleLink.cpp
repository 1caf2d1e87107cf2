#include "ui/ConsoleLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "host/TextFile.h"

namespace murmur::consolelink {
namespace {

constexpr const char* kHex = "0123456789ABCDEF";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && c != '\\') {
            out.push_back(c);
            continue;
        }
        out.push_back('\\');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
}

bool unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        int high = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
        int low = high >= 0 ? hexDigit(text[i + 2]) : -1;
        if (low < 0) return false;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

}  // namespace

std::string socketPath(const std::string& dataDirectory) {
    // systemd gives a colon-separated list when a unit names several runtime directories.
    const char* runtime = std::getenv("RUNTIME_DIRECTORY");
    std::string folder = runtime && *runtime ? std::string(runtime).substr(0, std::string(runtime).find(':')) : dataDirectory;
    return textfile::pathIn(folder, socketName);
}

SocketAddress::SocketAddress(const std::string& path) {
    address_.sun_family = AF_UNIX;
    std::string name = path;
    if (name.size() >= sizeof address_.sun_path) {
        std::size_t slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) return;
        name = "/proc/self/fd/" + std::to_string(folder_) + "/" + path.substr(slash + 1);
        if (name.size() >= sizeof address_.sun_path) return;
    }
    std::memcpy(address_.sun_path, name.c_str(), name.size() + 1);
    length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
}

SocketAddress::~SocketAddress() {
    if (folder_ >= 0) ::close(folder_);
}

int connectTo(const SocketAddress& address) {
    if (!address.valid()) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, address.get(), address.length()) == 0) return fd;
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

std::string encodeLine(const ChatLine& line) {
    std::string out = "L";
    for (const ChatPiece& piece : line.pieces) {
        out.push_back('\t');
        for (int shift = 20; shift >= 0; shift -= 4) out.push_back(kHex[(piece.colour >> shift) & 15]);
        appendEscaped(out, piece.text);
    }
    out.push_back('\n');
    return out;
}

std::string encodeNotice(std::string_view text) {
    std::string out = "N";
    appendEscaped(out, text);
    out.push_back('\n');
    return out;
}

Message decode(std::string_view line) {
    Message message;
    if (line == backlogEnd.substr(0, 1)) {
        message.kind = Kind::backlogEnd;
        return message;
    }
    if (!line.empty() && line[0] == 'N') {
        if (unescape(line.substr(1), message.text)) message.kind = Kind::notice;
        return message;
    }
    if (line.empty() || line[0] != 'L') return message;
    std::size_t at = 1;
    while (at < line.size()) {
        if (line[at] != '\t' || line.size() - at < 7) return message;
        std::size_t end = line.find('\t', at + 1);
        if (end == std::string_view::npos) end = line.size();
        ChatPiece piece;
        piece.colour = 0;
        for (std::size_t i = at + 1; i < at + 7; ++i) {
            int digit = hexDigit(line[i]);
            if (digit < 0) return message;
            piece.colour = piece.colour * 16 + static_cast<Colour>(digit);
        }
        if (!unescape(line.substr(at + 7, end - at - 7), piece.text)) return message;
        message.line.pieces.push_back(std::move(piece));
        at = end;
    }
    message.kind = Kind::line;
    return message;
}

}  // namespace murmur::consolelink
