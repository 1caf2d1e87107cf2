// When WriteLogToFile is "Y", every chat-view line is also appended, as the operator saw it, to
// logs/chat-YYYY-MM-DD.txt in the data directory.
#pragma once

#include "core/ChatView.h"

namespace murmur {

class ChatLog final : public ChatSink {
public:
    explicit ChatLog(Server& server) : server_(server) {}
    void lineAdded(const ChatLine& line) override;

private:
    Server& server_;
    bool failing_ = false;  // a failure is reported once, until writing works again
    bool reporting_ = false;
};

}  // namespace murmur
