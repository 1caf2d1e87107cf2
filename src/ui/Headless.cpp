#include "ui/Headless.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "core/Lifecycle.h"
#include "core/Settings.h"
#include "host/CodePage.h"

namespace murmur {
namespace {

constexpr const char* kDefaultForeground = "\x1b[39m";

}  // namespace

std::string renderForTerminal(const ChatLine& line, bool colours) {
    std::string out;
    for (const auto& piece : line.pieces) {
        Colour c = piece.colour;
        // White is the terminal's own foreground: 24-bit white cannot be read on a light background.
        if (colours && c == colour::white) out += kDefaultForeground;
        else if (colours)
            out += "\x1b[38;2;" + std::to_string(c & 0xFF) + ";" + std::to_string((c >> 8) & 0xFF) + ";" +
                   std::to_string((c >> 16) & 0xFF) + "m";
        out += codepage::toPrintableUtf8(piece.text);
    }
    if (colours) out += "\x1b[0m";
    return out;
}

LineOutput::LineOutput(int descriptor) : descriptor_(descriptor) {
    writable_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
    writable_->setEnabled(false);
    connect(writable_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
}

LineOutput::~LineOutput() = default;

bool LineOutput::write(std::string_view line) {
    if (broken_) return true;
    if (pending() + line.size() > maxPending) return false;
    if (written_ == pending_.size()) {
        pending_.clear();
        written_ = 0;
    }
    pending_.append(line);
    drain();
    return true;
}

void LineOutput::drain() {
    // Each write is small enough that a pipe with room for it takes it whole at once.
    constexpr std::size_t kPiece = 4096;
    while (written_ < pending_.size()) {
        pollfd ready{descriptor_, POLLOUT, 0};
        if (::poll(&ready, 1, 0) <= 0 || !(ready.revents & (POLLOUT | POLLERR | POLLHUP))) break;
        ssize_t n = ::write(descriptor_, pending_.data() + written_, std::min(kPiece, pending_.size() - written_));
        if (n > 0) {
            written_ += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            break;
        } else {
            broken_ = true;
            written_ = pending_.size();
        }
    }
    if (written_ == pending_.size()) {
        std::string().swap(pending_);
        written_ = 0;
    }
    writable_->setEnabled(written_ < pending_.size());
}

HeadlessFrontend::HeadlessFrontend(Server& server, bool colours, int outputDescriptor)
    : server_(server), colours_(colours), out_(outputDescriptor) {
    server_.frontend = this;
    server_.rtbChat.addSink(this);
}

HeadlessFrontend::~HeadlessFrontend() {
    server_.rtbChat.removeSink(this);
    if (server_.frontend == this) server_.frontend = nullptr;
}

void HeadlessFrontend::printLine(const std::string& utf8) {
    if (dropped_ > 0 && out_.pending() == 0) {
        std::string notice = formatTimestamp(server_.host.clock().now()) + std::to_string(dropped_) +
                             " operator lines were not shown: standard output was not read in time.\n";
        dropped_ = 0;
        out_.write(notice);
    }
    if (!out_.write(utf8 + "\n")) ++dropped_;
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
    if (!waitingForPort_) return runConsoleEntry(server_, text);
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
