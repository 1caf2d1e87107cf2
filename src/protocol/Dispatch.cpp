#include "protocol/Dispatch.h"

#include <array>
#include <vector>

#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Packets.h"
#include "protocol/Channels.h"
#include "protocol/ChatRelay.h"
#include "protocol/Logon.h"
#include "protocol/Requests.h"

namespace murmur {
namespace {

constexpr const char* kNotLoggedOn = "Invalid action prior to logging on. You will be disconnected now.";

using Fields = std::vector<std::string_view>;

// The packet as its handler gets it: the sender's record, the fields when the row counts them,
// and the whole payload.
struct Incoming {
    ConnectionNumber connection;
    clsUserData& sender;
    const Fields& fields;
    std::string_view payload;
};
using Handler = void (*)(Server&, const Incoming&);

// Who may send the packet. Anybody else's is refused with the notice and the close (a packet before
// the logon), or ignored (a second logon).
enum class Sender { loggedOn, notLoggedOn };
// What a packet whose fields do not fit gets.
enum class BadShape {
    drop,          // nothing at all
    incompatible,  // the operator's refused-logon line, the unframed "not compatible" refusal and the
                   // close, logged on or not
    fault,         // the general refusal of a client whose data cannot be handled
};

struct PacketRule {
    Handler handler = nullptr;  // none: read and ignored once the sender may send it
    Sender sender = Sender::loggedOn;
    int fields = -1;  // the field count; -1: the payload is one text and is not split
    bool atLeast = false;
    BadShape badShape = BadShape::drop;
};

// One row per packet id a client sends. Ids without a row (0, 3, 4, 5, 6, 10, 13, 15) still need a
// logon and are then ignored; ids above 19 never get here.
constexpr std::array<PacketRule, maxPacketId + 1> kPackets = [] {
    std::array<PacketRule, maxPacketId + 1> t{};
    t[in::pktLogon] = {[](Server& s, const Incoming& p) { handleLogon(s, p.connection, p.sender, p.fields); },
                       Sender::notLoggedOn, 3, false, BadShape::incompatible};
    t[in::pktChat] = {[](Server& s, const Incoming& p) { handleChat(s, p.connection, p.sender, p.fields); },
                      Sender::loggedOn, 2};
    t[in::pktInfoRequest] = {[](Server& s, const Incoming& p) { handleInfoRequest(s, p.connection, p.payload); }};
    // The target is read before anything else; a command that takes an argument checks it itself.
    t[in::pktGameQuery] = {[](Server& s, const Incoming& p) { handleGameQuery(s, p.sender, p.fields); },
                           Sender::loggedOn, 2, true, BadShape::fault};
    t[in::pktChannelUsersRequest] = {[](Server& s, const Incoming& p) { handleChannelUsers(s, p.connection, p.sender); }};
    t[in::pktKeepAliveReply] = {[](Server&, const Incoming& p) { handleKeepAliveReply(p.sender); }};
    t[in::pktJoinChannel] = {[](Server& s, const Incoming& p) { handleJoinChannel(s, p.connection, p.sender, p.fields); },
                             Sender::loggedOn, 2};
    t[in::pktWhisper] = {[](Server& s, const Incoming& p) { handleWhisper(s, p.connection, p.sender, p.fields); },
                         Sender::loggedOn, 3};
    t[in::pktNameLookup] = {[](Server& s, const Incoming& p) { handleNameLookup(s, p.connection, p.payload); }};
    t[in::pktStatsRequest] = {[](Server& s, const Incoming& p) { handleStatsRequest(s, p.connection); }};
    t[in::pktAllUsersRequest] = {[](Server& s, const Incoming& p) { handleAllUsersRequest(s, p.connection); }};
    t[in::pktQueueShare] = {[](Server& s, const Incoming& p) { handleQueueShare(s, p.sender, p.payload); }};
    return t;
}();

bool fits(const PacketRule& rule, const Fields& fields) {
    auto count = static_cast<int>(fields.size());
    return rule.atLeast ? count >= rule.fields : count == rule.fields;
}

}  // namespace

// In this order: a logon's shape (refused even from a client that has logged on), who may send it,
// then the field count.
void dispatchPacket(Server& server, std::uint8_t id, ConnectionNumber connection, std::string_view payload) {
    if (id > maxPacketId) return;
    const PacketRule& rule = kPackets[id];
    Fields fields;
    if (rule.fields >= 0) fields = splitFields(payload);
    bool shapeFits = rule.fields < 0 || fits(rule, fields);
    if (!shapeFits && rule.badShape == BadShape::incompatible) return refuseUnreadableLogon(server, connection, fields);

    clsUserData* sender = server.users.find(connection);
    if (!sender) return;
    if (sender->hasLoggedIn != (rule.sender == Sender::loggedOn)) {
        if (rule.sender == Sender::loggedOn) refuseAndClose(server, connection, kNotLoggedOn);
        return;
    }
    if (!rule.handler) return;
    if (!shapeFits) {
        if (rule.badShape == BadShape::fault) throw ClientFault("a packet without its fields");
        return;
    }
    rule.handler(server, Incoming{connection, *sender, fields, payload});
}

}  // namespace murmur
