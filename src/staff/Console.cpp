#include "staff/Console.h"

#include <exception>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Membership.h"
#include "core/Packets.h"
#include "core/UserList.h"
#include "host/CodePage.h"
#include "staff/CommandCall.h"
#include "staff/Commands.h"

namespace murmur {
namespace {

constexpr const char* kDumped = "Dumped chat screen.";

// The console's own command word: letter case does not matter for these.
std::string consoleWord(const std::string& text) { return codepage::toLower(commandWords(text)[0]); }

// Closes every connection and forgets every user, without a word to anybody. From the top down,
// each socket is the highest when it goes, so all but socket 0 leave the array.
void sweepServer(Server& server) {
    for (int i = socketCount(server) - 1; i >= 0; --i) endConnection(server, static_cast<ConnectionNumber>(i), {.unload = true});
    clearRecords(server);
    clearUserList(server);
    refreshCountLabel(server);
}

}  // namespace

void consoleEntry(Server& server, const std::string& text) {
    if (text.empty()) return;
    try {
        if (text[0] != '/') {
            sendToAllConnected(server, out::pktServerMessage, text);
            addChat(server, {{colour::cyan, "<SERVER MESSAGE> "}, {colour::white, text}});
            return;
        }
        std::string word = consoleWord(text);
        if (word == "cls") {
            server.rtbChat.clear();
            addChat(server, {{colour::green, kDumped}});
        } else if (word == "sweepserv") {
            sweepServer(server);
        } else if (!word.empty()) {
            processCommand(server, consoleName, text, true);
        }
    } catch (const std::exception& failure) {
        addChat(server, {{colour::red, "The console command failed: " + std::string(failure.what())}});
    }
}

}  // namespace murmur
