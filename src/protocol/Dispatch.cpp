#include "protocol/Dispatch.h"

#include <array>

#include "protocol/Channels.h"
#include "protocol/ChatRelay.h"
#include "protocol/Logon.h"
#include "protocol/Packets.h"
#include "protocol/Requests.h"

namespace murmur {
namespace {

constexpr const char* kNotLoggedOn = "Invalid action prior to logging on. You will be disconnected now.";

using Fields = std::vector<std::string_view>;
using Handler = void (*)(Server&, ConnectionNumber, const Fields&, std::string_view payload);

struct Rule {
    Handler handler = nullptr;
    int fields = -1;  // the exact field count the handler needs; other counts are dropped
};

// One row per packet id a client may send; ids without a row are read and ignored.
constexpr std::array<Rule, 20> kCatalogue = [] {
    std::array<Rule, 20> t{};
    t[in::pktLogon] = {[](Server& s, ConnectionNumber c, const Fields& f, std::string_view) { handleLogon(s, c, f); }};
    t[in::pktChat] = {[](Server& s, ConnectionNumber c, const Fields& f, std::string_view) { handleChat(s, c, f); }, 2};
    t[in::pktInfoRequest] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view p) { handleInfoRequest(s, c, p); }};
    t[in::pktGameQuery] = {[](Server& s, ConnectionNumber c, const Fields& f, std::string_view) { handleGameQuery(s, c, f); }};
    t[in::pktChannelUsersRequest] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view) { handleChannelUsers(s, c); }};
    t[in::pktKeepAliveReply] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view) { handleKeepAliveReply(s, c); }};
    t[in::pktJoinChannel] = {
        [](Server& s, ConnectionNumber c, const Fields& f, std::string_view) { handleJoinChannel(s, c, f); }, 2};
    t[in::pktWhisper] = {[](Server& s, ConnectionNumber c, const Fields& f, std::string_view) { handleWhisper(s, c, f); }, 3};
    t[in::pktNameLookup] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view p) { handleNameLookup(s, c, p); }};
    t[in::pktStatsRequest] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view) { handleStatsRequest(s, c); }};
    t[in::pktAllUsersRequest] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view) { handleAllUsersRequest(s, c); }};
    t[in::pktQueueShare] = {
        [](Server& s, ConnectionNumber c, const Fields&, std::string_view p) { handleQueueShare(s, c, p); }};
    return t;
}();

}  // namespace

void dispatchPacket(Server& server, std::uint8_t id, ConnectionNumber connection, std::string_view payload) {
    if (id != in::pktLogon) {
        const clsUserData* record = server.users.find(connection);
        if (!record) return;
        if (!record->hasLoggedIn) return refuseAndClose(server, connection, kNotLoggedOn);
    }
    if (id >= kCatalogue.size() || !kCatalogue[id].handler) return;
    const Rule& rule = kCatalogue[id];
    Fields fields = splitFields(payload);
    if (rule.fields >= 0 && static_cast<int>(fields.size()) != rule.fields) return;
    rule.handler(server, connection, fields, payload);
}

}  // namespace murmur
