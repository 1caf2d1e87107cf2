#include "protocol/Logon.h"

#include <array>
#include <chrono>
#include <optional>

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
#include "protocol/Guesses.h"
#include "staff/Accounts.h"
#include "staff/Bans.h"
#include "staff/Roster.h"

namespace murmur {
namespace {

// A refusal: the notice the client gets (kind "0"), the reason in the operator's line, and
// whether the record stays (refuse and close) or goes too (refuse and drop).
struct Refusal {
    const char* text;
    const char* reason;
    bool keepRecord;
};

constexpr Refusal kInvalidProcedure{"Invalid connection procedure.", "invalid connection procedure", false};
constexpr Refusal kNoSpaces{"Names with spaces are not permitted on Murmur.", "space in the name", false};
constexpr Refusal kNoControlsOrColons{"Names with control characters or colons are not permitted on Murmur.",
                                      "control character or colon in the name", false};
constexpr Refusal kTooLong{"Names longer than 32 characters are not permitted on Murmur.", "name too long", false};
constexpr Refusal kNoName{"You have tried logging in without a name.", "no name", false};
constexpr Refusal kSpoofing{"Trying to spoof a mod / admin (don't use \"@\" or \"%\" to the left of your name)",
                            "staff prefix in the name", false};
constexpr Refusal kBanned{"You have been banned from the server.", "banned name", true};
constexpr Refusal kTooManyGuesses{"Too many failed logons. Please wait a minute and try again.",
                                  "too many failed logons", false};
constexpr Refusal kInvalidPassword{"The server requires validation. Invalid password.", "invalid password", true};
constexpr Refusal kNoPassword{"You didn't supply a password for your account.", "no password", true};
constexpr Refusal kReservedForStaff{"This name is reserved for staff. Ask the operator to set its password.",
                                    "name reserved for staff", true};
constexpr Refusal kUnstorable{"That password cannot be stored. Please choose another.", "password cannot be stored",
                              false};
constexpr Refusal kAccountTrouble{"The server could not check or store your account. Please try again later.",
                                  "account file unusable", false};
constexpr Refusal kDuplicate{"You tried logging in with a duplicate name.", "duplicate name", false};
constexpr const char* kIpBanned = "You are IPBanned from this server.";
constexpr const char* kIpBannedReason = "banned address";
constexpr const char* kUnreadableReason = "unreadable logon";
constexpr const char* kStaffWithoutProof =
    " is on the staff roster but gave no valid password; logged on without staff rights.";

// How long a logon waits for the account file's lock while an operator's account command holds it.
constexpr std::chrono::milliseconds kLockPatience{2000};

constexpr std::array<const char*, 9> kProducts = {
    "Murmur Client",   "Skiff Plugin",    "MurmurBot client", "Murmur Bot by Orvo",   "Brambot client",
    "Tinbot by Ressa", "Unknown by Pell", "Murmur Queue Slave", "Quill Client by Quade",
};
constexpr double kQueueSharingProduct = 8;

enum class AccountCheck { accepted, created, wrongPassword, noPassword, reservedForStaff, unstorable, fileTrouble };

void reportAccountFile(Server& server, const std::string& problem) {
    addChat(server, {{colour::red, "The account file " + server.path(files::accounts) + " " + problem}});
}

// The name's account in users.txt as it is now; the operator is told when the file cannot be read.
AccountLookup lookUp(Server& server, std::string_view name) {
    AccountLookup found = lookUpAccount(server.dataFiles.accounts, server.dataDirectory, name);
    if (!found.readable) reportAccountFile(server, "could not be read.");
    return found;
}

// Checks the password against users.txt, or stores a new account there. A staff name never gets
// its account by logging on: whoever came first would own the rank.
AccountCheck checkAccount(Server& server, std::string_view name, std::string_view password, bool staff) {
    AccountLookup found = lookUp(server, name);
    if (!found.readable) return AccountCheck::fileTrouble;
    std::string encoded = hashPassword(password);
    auto compare = [&](const std::string& stored) {
        return stored == encoded ? AccountCheck::accepted : AccountCheck::wrongPassword;
    };
    if (found.stored) return compare(*found.stored);
    if (staff) return AccountCheck::reservedForStaff;
    if (!found.present && password.empty()) return AccountCheck::noPassword;
    if (!isStorable(encoded)) return AccountCheck::unstorable;

    // An operator's account command may have changed the file since: the creation looks again.
    std::optional<std::string> stored;
    AccountChange change = addAccount(server.dataFiles.accounts, server.dataDirectory, kLockPatience, name, encoded, stored);
    switch (change) {
        case AccountChange::written: return AccountCheck::created;
        case AccountChange::unchanged: return stored ? compare(*stored) : AccountCheck::noPassword;
        case AccountChange::busy: reportAccountFile(server, "stayed locked by another process."); break;
        case AccountChange::unreadable: reportAccountFile(server, "could not be read."); break;
        case AccountChange::unwritable: reportAccountFile(server, "could not be written."); break;
    }
    return AccountCheck::fileTrouble;
}

// With validation off only a staff name reads the account file: its rank needs the password of
// its account. An empty password proves nothing.
bool provesStaffRank(Server& server, std::string_view name, std::string_view password, const std::string& address) {
    std::optional<std::string> stored = lookUp(server, name).stored;
    if (!stored || stored->empty() || password.empty()) return false;
    if (hashPassword(password) == *stored) return true;
    countWrongPassword(server, address);
    return false;
}

void refuse(Server& server, ConnectionNumber connection, std::string_view name, const Refusal& refusal) {
    reportRefusedLogon(server, connection, name, refusal.reason);
    if (refusal.keepRecord) refuseAndClose(server, connection, refusal.text);
    else refuseAndDrop(server, connection, refusal.text);
}

void accept(Server& server, ConnectionNumber connection, clsUserData& record, std::string_view name,
            const StaffRank& rank, std::string_view productCode, double code, std::int32_t ping) {
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
    // over the connections, so that each is visited once (a storm of logons visits them all), and
    // the two notices made as one, so that a member of Main gets them in one step.
    std::string loggedOnFrame =
        framePacket(out::pktUserLoggedOn, joinFields({listName, productCode, std::to_string(ping)}));
    SharedFrame both = shareFrames(server, loggedOnFrame + framePacket(out::pktUserJoinedChannel, listName));
    SharedFrame loggedOn = both.upTo(loggedOnFrame.size()), joined = both.from(loggedOnFrame.size());
    const std::vector<ConnectionNumber>& inMain = channelMembers(server, texts::mainChannel);
    std::size_t next = 0;
    for (int i = 0; i < socketCount(server); ++i) {
        bool member = next < inMain.size() && inMain[next] == i;
        next += member;
        if (i != connection) sendFrame(server, i, member ? both : loggedOn);
        else if (member) sendFrame(server, i, joined);
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

std::string productLabel(double code) {
    for (std::size_t i = 0; i < kProducts.size(); ++i)
        if (code == static_cast<double>(i + 1)) return kProducts[i];
    return "Unknown client";
}

void reportRefusedLogon(Server& server, ConnectionNumber connection, std::string_view name, std::string_view reason) {
    addChat(server, {{colour::red, "Logon refused for " + std::string(name) + " from " + remoteAddress(server, connection) +
                                       ": " + std::string(reason) + "."}});
}

void refuseUnreadableLogon(Server& server, ConnectionNumber connection, const std::vector<std::string_view>& fields) {
    reportRefusedLogon(server, connection, fields.empty() ? std::string_view() : fields[0], kUnreadableReason);
    refuseIncompatible(server, connection);
}

void readLogonFiles(Server& server) {
    lookupStaff(server, "");
    checkBans(server, "", "");
    lookUpAccount(server.dataFiles.accounts, server.dataDirectory, "");
}

void handleLogon(Server& server, ConnectionNumber connection, clsUserData& self, const std::vector<std::string_view>& fields) {
    ++server.counters.logonAttempts;
    std::int32_t ping = server.host.loop().tickCount() - self.initialPing;
    std::string_view name = fields[0];
    std::string_view password = fields[1];
    std::string_view productCode = fields[2];
    auto code = parseNumeric(productCode);
    if (!code) return refuse(server, connection, name, kInvalidProcedure);
    NameProblem problem = logonNameProblem(name);
    if (problem == NameProblem::space) return refuse(server, connection, name, kNoSpaces);
    if (problem == NameProblem::controlOrColon) return refuse(server, connection, name, kNoControlsOrColons);
    if (problem == NameProblem::tooLong) return refuse(server, connection, name, kTooLong);

    countLogon(server, connection);

    if (problem == NameProblem::empty) return refuse(server, connection, name, kNoName);
    if (problem == NameProblem::staffPrefix) return refuse(server, connection, name, kSpoofing);

    std::string address = remoteAddress(server, connection);
    std::string ban = codepage::toLower(checkBans(server, name, address));
    if (ban == "banned") {
        addChat(server, {{colour::red, std::string(name) + " has been banned, and is unable to connect."}});
        return refuse(server, connection, name, kBanned);
    }
    if (ban == "ipbanned") {
        addChat(server, {{colour::red, std::string(name) + " tried to connect, but they are IPBanned."}});
        reportRefusedLogon(server, connection, name, kIpBannedReason);
        sendPacket(server, out::pktNotice, connection, kIpBanned);
        server.host.loop().yield();
        return;
    }
    if (isLockedOut(server, address)) return refuse(server, connection, name, kTooManyGuesses);

    StaffRank rank = lookupStaff(server, name);
    bool staff = rank.name != "normal";
    bool proven = false;
    if (server.settings.authentication == "Y") {
        switch (checkAccount(server, name, password, staff)) {
            case AccountCheck::wrongPassword:
                countWrongPassword(server, address);
                return refuse(server, connection, name, kInvalidPassword);
            case AccountCheck::noPassword: return refuse(server, connection, name, kNoPassword);
            case AccountCheck::reservedForStaff: return refuse(server, connection, name, kReservedForStaff);
            case AccountCheck::unstorable: return refuse(server, connection, name, kUnstorable);
            case AccountCheck::fileTrouble: return refuse(server, connection, name, kAccountTrouble);
            case AccountCheck::created:
                sendPacket(server, out::pktAccountCreated, connection, "");
                server.host.loop().yield();
                break;
            case AccountCheck::accepted: proven = !password.empty(); break;
        }
    } else if (staff) {
        proven = provesStaffRank(server, name, password, address);
    }
    // A staff name without its password is somebody else's guess, or its holder before the
    // operator set one: a normal user either way.
    if (staff && !proven) rank = {"normal", 3};

    int holder = findUserByName(server, name);
    if (holder >= 0) {
        if (isConnected(server, holder)) return refuse(server, connection, name, kDuplicate);
        std::string holderList = server.users.find(static_cast<ConnectionNumber>(holder))->listName;
        removeFirstFromUserList(server, [&](const std::string& entry) { return codepage::equalsNoCase(entry, holderList); });
        refreshCountLabel(server);
        putRecord(server, static_cast<ConnectionNumber>(holder), clsUserData{});
    }

    accept(server, connection, self, name, rank, productCode, *code, ping);
    if (staff && !proven) addChat(server, {{colour::red, std::string(name) + kStaffWithoutProof}});
}

}  // namespace murmur
