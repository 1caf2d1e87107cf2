// Kicks and bans from the whole server, by name pattern.
#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/UserList.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "staff/Bans.h"
#include "staff/CommandCall.h"
#include "staff/Pattern.h"

namespace murmur {

void serverRemove(CommandCall& call) {
    Server& server = call.server;
    std::vector<std::string>& words = call.words;
    if (words[0] != "kick" && words[0] != "ban") return;
    bool isBan = words[0] == "ban";
    std::string remover = call.fromConsole ? consoleName : std::string();
    if (!call.fromConsole) {
        const clsUserData* caller = call.callerRecord();
        remover = caller ? caller->originalName : call.callerName;
        // The word "--server" has done its work; the words after it are the reason.
        if (words.size() > 2) words[2].clear();
        words = textfile::split(joinNonEmpty(words, " "), " ");
    }
    if (words.size() < 2 || words[1].empty()) return;

    std::string joined = joinNonEmpty(words, " ");
    std::size_t first = joined.find(' ');
    std::size_t second = first == std::string::npos ? first : joined.find(' ', first + 1);
    std::string removerText =
        second == std::string::npos ? remover + "." : remover + " (" + joined.substr(second + 1) + ")";
    const char* verb = isBan ? "banned" : "kicked";
    std::string typed = words[1];
    std::string pattern = codepage::toLower(typed);

    std::string removedListName;
    for (ConnectionNumber number : server.users.keys()) {
        const clsUserData* record = server.users.find(number);
        if (!record || !matchesPattern(codepage::toLower(record->originalName), pattern)) continue;
        removedListName = record->listName;
        std::string name = stripPrefix(record->listName);
        bool listed = removeFirstFromUserList(server, [&](const std::string& entry) {
            if (!matchesPattern(codepage::toLower(stripPrefix(entry)), pattern)) return false;
            removedListName = entry;
            name = stripPrefix(entry);
            return true;
        });
        if (listed) refreshCountLabel(server);

        addChat(server, {{colour::yellow, name + " was "}, {colour::white, verb}, {colour::yellow, " from Murmur by " + removerText}});
        noticeToAll(server, name + " was " + verb + " off of Murmur by " + removerText);
        endConnection(server, number, {.unload = true});
        if (isBan) appendBan(server, typed);
    }
    server.host.loop().yield();
    sendToAllConnected(server, out::pktUserLoggedOff, removedListName);
}

}  // namespace murmur
