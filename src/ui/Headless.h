// The terminal front-end: every chat-view line is printed as one line on standard output, every
// line read from standard input is one console entry.
#pragma once

#include <QObject>
#include <cstdio>
#include <memory>
#include <string>

#include "core/ChatView.h"
#include "core/Frontend.h"
#include "core/Server.h"

class QSocketNotifier;

namespace murmur {

// Lines for a descriptor that may be a slow reader (a pipe to a logger, a test): written as far as
// the descriptor takes them without waiting, the rest kept in memory until it is writable again.
// The server never stops for its operator's output.
class LineOutput final : public QObject {
public:
    static constexpr std::size_t maxPending = 64u << 20;

    explicit LineOutput(int descriptor);
    ~LineOutput() override;
    // Returns false when the line had to be dropped because too much is waiting.
    bool write(std::string_view line);
    std::size_t pending() const { return pending_.size() - written_; }

private:
    void drain();

    int descriptor_;
    std::string pending_;
    std::size_t written_ = 0;
    bool broken_ = false;  // the reader is gone; nothing more can be written
    std::unique_ptr<QSocketNotifier> writable_;
};

class HeadlessFrontend final : public QObject, public Frontend, public ChatSink {
public:
    HeadlessFrontend(Server& server, bool colours, int outputDescriptor = 1);
    ~HeadlessFrontend() override;

    // Starts reading console entries from the descriptor.
    void readConsoleFrom(int descriptor);
    // Handles one line as it came from the terminal (UTF-8, without its line end).
    void consoleLine(const std::string& utf8);

    void lineAdded(const ChatLine& line) override;
    void messageBox(const std::string& text) override;
    void askAlternatePort() override;

    bool waitingForPort() const { return waitingForPort_; }

private:
    void readAvailable();
    void printLine(const std::string& utf8);

    Server& server_;
    bool colours_;
    LineOutput out_;
    std::size_t dropped_ = 0;
    int descriptor_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string partial_;
    bool waitingForPort_ = false;
};

// How a line of coloured pieces looks on a terminal; plain text when colours is false.
std::string renderForTerminal(const ChatLine& line, bool colours);

}  // namespace murmur
