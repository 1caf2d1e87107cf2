#include "ui/Headless.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <unistd.h>

#include "core/Lifecycle.h"
#include "core/Settings.h"
#include "host/CodePage.h"

namespace murmur {

std::string renderForTerminal(const ChatLine& line, bool colours) {
    std::string out;
    for (const auto& piece : line.pieces) {
        if (colours) {
            Colour c = piece.colour;
            out += "\x1b[38;2;" + std::to_string(c & 0xFF) + ";" + std::to_string((c >> 8) & 0xFF) + ";" +
                   std::to_string((c >> 16) & 0xFF) + "m";
        }
        out += codepage::toPrintableUtf8(piece.text);
    }
    if (colours) out += "\x1b[0m";
    return out;
}

HeadlessFrontend::HeadlessFrontend(Server& server, bool colours, std::FILE* out)
    : server_(server), colours_(colours), out_(out) {
    server_.frontend = this;
    server_.rtbChat.addSink(this);
}

HeadlessFrontend::~HeadlessFrontend() {
    server_.rtbChat.removeSink(this);
    if (server_.frontend == this) server_.frontend = nullptr;
}

void HeadlessFrontend::printLine(const std::string& utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void HeadlessFrontend::lineAdded(const ChatLine& line) { printLine(renderForTerminal(line, colours_)); }

void HeadlessFrontend::messageBox(const std::string& text) {
    ChatLine line{{{colour::white, formatTimestamp(server_.host.clock().now())}, {colour::white, text}}, 2};
    printLine(renderForTerminal(line, colours_));
}

void HeadlessFrontend::askAlternatePort() {
    waitingForPort_ = true;
    messageBox(alternatePortQuestion(server_.settings.port));
}

void HeadlessFrontend::readConsoleFrom(int descriptor) {
    descriptor_ = descriptor;
    notifier_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readAvailable(); });
}

void HeadlessFrontend::readAvailable() {
    char buffer[65536];
    ssize_t n = ::read(descriptor_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // End of input leaves the server running; only a pending port question cannot be answered.
        notifier_->setEnabled(false);
        if (!partial_.empty()) {
            std::string last;
            last.swap(partial_);
            consoleLine(last);
        }
        if (waitingForPort_) QCoreApplication::exit(1);
        return;
    }
    partial_.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = partial_.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        consoleLine(line);
    }
    partial_.erase(0, start);
}

void HeadlessFrontend::consoleLine(const std::string& utf8) {
    std::string text = codepage::fromUtf8(utf8);
    if (!waitingForPort_) {
        server_.host.loop().runHandler([&] { server_.consoleHandler(text); });
        return;
    }
    std::int16_t port = 0;
    switch (readPortEntry(text, port)) {
        case PortEntry::notNumeric: return messageBox(enterNumericValue);
        case PortEntry::outOfRange: return messageBox(portRangeMessage);
        case PortEntry::valid: break;
    }
    bool listening = false;
    server_.host.loop().runHandler([&] { listening = listenOnAlternatePort(server_, port); });
    if (listening) {
        waitingForPort_ = false;
        return;
    }
    messageBox(alternatePortQuestion(port));
}

}  // namespace murmur
