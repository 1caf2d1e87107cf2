// The global filter (mute, unmute) and promotions to moderator and administrator.
#include "core/ChatView.h"
#include "core/DataFiles.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Texts.h"
#include "core/UserList.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "staff/CommandCall.h"

namespace murmur {
namespace {

constexpr const char* kNoMutingStaff = "You cannot mute staff.";
constexpr const char* kNotMuted = "That user is not globally muted.";
constexpr const char* kNotPresent = "User is not present on Murmur.";

struct Promotion {
    const char* roster;
    const char* prefix;
    const char* rank;
};

constexpr Promotion kToModerator{files::moderators, "@", "moderator"};
constexpr Promotion kToAdministrator{files::administrators, "%", "admin"};

}  // namespace

void mute(const CommandCall& call) {
    Server& server = call.server;
    if (!call.fromConsole)
        for (const auto& [number, record] : server.users)
            if (codepage::equalsNoCase(record.originalName, call.target()) && record.authString != "normal")
                return call.reply(kNoMutingStaff, NoticeKind::refusal);

    std::string key = codepage::toLower(pieceAfter(call.raw, call.command()));
    bool online = false;
    for (const auto& entry : server.lstUsers) online = online || codepage::toLower(stripPrefix(entry)) == key;
    if (!online) return call.reply(texts::notOnline, NoticeKind::refusal);

    server.globalFilter.insert(key);
    addChat(server, {{colour::green, "Added \"" + key + "\" to the global filter."}});
    noticeToAll(server, call.target() + " has been globally muted by " + call.callerName + ".");
}

void unmute(const CommandCall& call) {
    Server& server = call.server;
    std::string key = codepage::toLower(pieceAfter(call.raw, call.command()));
    if (!server.globalFilter.erase(key)) return call.reply(kNotMuted, NoticeKind::refusal);
    addChat(server, {{colour::green, "Removed \"" + key + "\" from the global filter."}});
    noticeToAll(server, call.target() + " has been globally unmuted by " + call.callerName + ".");
}

void promote(const CommandCall& call) {
    Server& server = call.server;
    const Promotion& to = call.command() == "makeadmin" ? kToAdministrator : kToModerator;
    bool found = false;
    std::string listText;
    for (auto& [number, record] : server.users) {
        if (codepage::equalsNoCase(record.originalName, call.target())) {
            std::string path = server.path(to.roster);
            if (!textfile::appendLine(path, record.originalName))
                addChat(server, {{colour::red, "The promotion of " + record.originalName + " could not be written to " + path + "."}});
            noticeToAll(server, call.callerName + " promoted " + call.target() + " to " + to.rank + "!");
            addChat(server, {{colour::yellow, call.callerName + " promoted " + call.target() + " to "},
                             {colour::white, std::string(to.rank) + "!"}});
            record.authString = to.rank;
            record.listName = to.prefix + record.originalName;
            found = true;
        }
        listText += record.listName + ", ";
    }
    if (listText.size() > 2) listText.resize(listText.size() - 2);
    if (!found) return call.reply(kNotPresent, NoticeKind::refusal);

    replaceUserList(server, sortByRank(listText));
    server.host.loop().yield();
    sendToAllConnected(server, out::pktUserList, listText);
}

}  // namespace murmur
