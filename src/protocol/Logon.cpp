#include "protocol/Logon.h"

#include <array>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/DataFiles.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "core/Packets.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/UserList.h"
#include "guard/Counting.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "staff/Bans.h"
#include "staff/Roster.h"

namespace murmur {
namespace {

constexpr const char* kInvalidProcedure = "Invalid connection procedure.";
constexpr const char* kNoSpaces = "Names with spaces are not permitted on Murmur.";
constexpr const char* kNoControlsOrColons = "Names with control characters or colons are not permitted on Murmur.";
constexpr const char* kTooLong = "Names longer than 32 characters are not permitted on Murmur.";
constexpr const char* kNoName = "You have tried logging in without a name.";
constexpr const char* kSpoofing =
    "Trying to spoof a mod / admin (don't use \"@\" or \"%\" to the left of your name)";
constexpr const char* kBanned = "You have been banned from the server.";
constexpr const char* kIpBanned = "You are IPBanned from this server.";
constexpr const char* kInvalidPassword = "The server requires validation. Invalid password.";
constexpr const char* kNoPassword = "You didn't supply a password for your account.";
constexpr const char* kAccountTrouble =
    "The server could not check or store your account. Please try again later.";
constexpr const char* kDuplicate = "You tried logging in with a duplicate name.";

// The password key. Every account in users.txt was stored with it: changing a single entry
// locks out every stored account.
constexpr std::array<int, 6> kPasswordKey = {2, 5, 1, 4, 3, 6};

constexpr std::array<const char*, 9> kProducts = {
    "Murmur Client",   "Skiff Plugin",    "MurmurBot client", "Murmur Bot by Orvo",   "Brambot client",
    "Tinbot by Ressa", "Unknown by Pell", "Murmur Queue Slave", "Quill Client by Quade",
};
constexpr double kQueueSharingProduct = 8;

enum class AccountCheck { accepted, created, wrongPassword, noPassword, fileTrouble };

// Checks the password against users.txt, or stores a new account there.
AccountCheck checkAccount(Server& server, std::string_view name, std::string_view password) {
    std::string path = server.path(files::accounts);
    std::string text;
    textfile::ReadStatus status = textfile::readWhole(path, text);
    if (status == textfile::ReadStatus::failed) {
        addChat(server, {{colour::red, "The account file " + path + " could not be read."}});
        return AccountCheck::fileTrouble;
    }
    std::string encoded = hashPassword(password);
    if (status == textfile::ReadStatus::ok) {
        std::vector<std::string> lines = textfile::splitCrLf(text);
        // The piece after the last CR LF is never an account: the server ends what it writes
        // with CR LF, so a line without one is not finished.
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            std::size_t colon = lines[i].find(':');
            if (colon == std::string::npos) continue;  // not an account line
            if (!codepage::equalsNoCase(std::string_view(lines[i]).substr(0, colon), name)) continue;
            return lines[i].substr(colon + 1) == encoded ? AccountCheck::accepted : AccountCheck::wrongPassword;
        }
    } else if (password.empty()) {
        return AccountCheck::noPassword;
    }
    text += std::string(name) + ":" + encoded + "\r\n";
    if (!textfile::writeWhole(path, text)) {
        addChat(server, {{colour::red, "The account file " + path + " could not be written."}});
        return AccountCheck::fileTrouble;
    }
    return AccountCheck::created;
}

void accept(Server& server, ConnectionNumber connection, clsUserData& record, std::string_view name,
            std::string_view productCode, double code, std::int32_t ping) {
    StaffRank rank = lookupStaff(server, name);
    std::string listName = std::string(staffPrefix(rank.name)) + std::string(name);
    std::string product = productLabel(code);
    std::string display = code == 1 ? listName : listName + " (" + product + ")";
    std::string address = remoteAddress(server, connection);
    ++server.counters.logons;

    addChat(server, {{colour::yellow, "Connection #" + std::to_string(connection + 1) + " (from "},
                     {colour::white, address},
                     {colour::yellow, ") connected to Murmur with the nickname: " + display + ". (" +
                                          std::to_string(ping) + "ms ping)"}});
    sendPacket(server, out::pktWelcome, connection, joinFields({server.titleText, rank.name}));
    server.host.loop().yield();
    sendPacket(server, out::pktJoinResult, connection, joinFields({texts::mainChannel, "success"}));
    // Every other connection hears of the user, and those in Main then hear it joined them: one walk
    // over the connections, so that each is visited once (a storm of logons visits them all).
    std::string pingText = std::to_string(ping);
    SharedFrame loggedOn = shareFrame(server, out::pktUserLoggedOn, joinFields({listName, productCode, pingText}));
    SharedFrame joined = shareFrame(server, out::pktUserJoinedChannel, listName);
    const std::vector<ConnectionNumber>& inMain = channelMembers(server, texts::mainChannel);
    std::size_t next = 0;
    for (int i = 0; i < socketCount(server); ++i) {
        if (i != connection) sendFrame(server, i, loggedOn);
        if (next < inMain.size() && inMain[next] == i) sendFrame(server, inMain[next++], joined);
    }
    addToUserList(server, listName);
    refreshCountLabel(server);

    enterChannel(server, connection, record, texts::mainChannel);
    record.authString = rank.name;
    nameRecord(server, connection, record, std::string(name));
    record.isQueueSharing = code == kQueueSharingProduct;
    record.listName = listName;
    record.flags = std::to_string(rank.code);
    record.ping = ping;
    record.IP = address;
    record.product = product;
    record.isChannelPhantom = false;
    record.hasLoggedIn = true;

    if (rank.name != "normal" && server.users.count() > 1)
        replaceUserList(server, sortByRank(listNamesInTableOrder(server)));
}

}  // namespace

NameProblem logonNameProblem(std::string_view name) {
    if (name.find(' ') != std::string_view::npos) return NameProblem::space;
    // A control character would reach every terminal that shows the name, and a colon cuts the
    // account line of users.txt short.
    for (char c : name)
        if (static_cast<unsigned char>(c) < 32 || c == ':') return NameProblem::controlOrColon;
    if (name.size() > maxNameLength) return NameProblem::tooLong;
    if (name.empty()) return NameProblem::empty;
    if (name[0] == '@' || name[0] == '%') return NameProblem::staffPrefix;
    return NameProblem::none;
}

std::string hashPassword(std::string_view password) {
    std::string result;
    for (std::size_t i = 0; i < password.size(); ++i) {
        bool even = i % 2 == 0;
        std::string working(1, password[i]);
        for (int round = 0; round <= kPasswordKey[i % kPasswordKey.size()]; ++round) {
            int code = static_cast<unsigned char>(working[0]);
            if (even) working = code + 1 >= 255 ? std::string("48") : std::string(1, static_cast<char>(code + 1));
            else working = code - 1 <= 0 ? std::string("50") : std::string(1, static_cast<char>(code - 1));
        }
        result += working;
    }
    return result;
}

std::string productLabel(double code) {
    for (std::size_t i = 0; i < kProducts.size(); ++i)
        if (code == static_cast<double>(i + 1)) return kProducts[i];
    return "Unknown client";
}

void handleLogon(Server& server, ConnectionNumber connection, clsUserData& self, const std::vector<std::string_view>& fields) {
    ++server.counters.logonAttempts;
    std::int32_t ping = server.host.loop().tickCount() - self.initialPing;
    std::string_view name = fields[0];
    std::string_view password = fields[1];
    std::string_view productCode = fields[2];
    auto code = parseNumeric(productCode);
    if (!code) return refuseAndDrop(server, connection, kInvalidProcedure);
    NameProblem problem = logonNameProblem(name);
    if (problem == NameProblem::space) return refuseAndDrop(server, connection, kNoSpaces);
    if (problem == NameProblem::controlOrColon) return refuseAndDrop(server, connection, kNoControlsOrColons);
    if (problem == NameProblem::tooLong) return refuseAndDrop(server, connection, kTooLong);

    countLogon(server, connection);

    if (problem == NameProblem::empty) return refuseAndDrop(server, connection, kNoName);
    if (problem == NameProblem::staffPrefix) return refuseAndDrop(server, connection, kSpoofing);

    std::string ban = codepage::toLower(checkBans(server, name, remoteAddress(server, connection)));
    if (ban == "banned") {
        addChat(server, {{colour::red, std::string(name) + " has been banned, and is unable to connect."}});
        return refuseAndClose(server, connection, kBanned);
    }
    if (ban == "ipbanned") {
        addChat(server, {{colour::red, std::string(name) + " tried to connect, but they are IPBanned."}});
        sendPacket(server, out::pktNotice, connection, kIpBanned);
        server.host.loop().yield();
        return;
    }

    if (server.settings.authentication == "Y") {
        switch (checkAccount(server, name, password)) {
            case AccountCheck::wrongPassword: return refuseAndClose(server, connection, kInvalidPassword);
            case AccountCheck::noPassword: return refuseAndClose(server, connection, kNoPassword);
            case AccountCheck::fileTrouble: return refuseAndDrop(server, connection, kAccountTrouble);
            case AccountCheck::created:
                sendPacket(server, out::pktAccountCreated, connection, "");
                server.host.loop().yield();
                break;
            case AccountCheck::accepted: break;
        }
    }

    int holder = findUserByName(server, name);
    if (holder >= 0) {
        if (isConnected(server, holder)) return refuseAndDrop(server, connection, kDuplicate);
        std::string holderList = server.users.find(static_cast<ConnectionNumber>(holder))->listName;
        removeFirstFromUserList(server, [&](const std::string& entry) { return codepage::equalsNoCase(entry, holderList); });
        refreshCountLabel(server);
        putRecord(server, static_cast<ConnectionNumber>(holder), clsUserData{});
    }

    accept(server, connection, self, name, productCode, *code, ping);
}

}  // namespace murmur
