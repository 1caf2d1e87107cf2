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

class HeadlessFrontend final : public QObject, public Frontend, public ChatSink {
public:
    HeadlessFrontend(Server& server, bool colours, std::FILE* out = stdout);
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
    std::FILE* out_;
    int descriptor_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string partial_;
    bool waitingForPort_ = false;
};

// How a line of coloured pieces looks on a terminal; plain text when colours is false.
std::string renderForTerminal(const ChatLine& line, bool colours);

}  // namespace murmur
