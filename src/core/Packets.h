// Every packet id of the wire protocol, by name. An id is used in both directions, often for
// related purposes; each direction has its own names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

// Client to server.
namespace in {
constexpr std::uint8_t pktLogon = 1;
constexpr std::uint8_t pktChat = 2;
constexpr std::uint8_t pktInfoRequest = 7;
constexpr std::uint8_t pktGameQuery = 8;
constexpr std::uint8_t pktChannelUsersRequest = 9;
constexpr std::uint8_t pktKeepAliveReply = 11;
constexpr std::uint8_t pktJoinChannel = 12;
constexpr std::uint8_t pktWhisper = 14;
constexpr std::uint8_t pktNameLookup = 16;
constexpr std::uint8_t pktStatsRequest = 17;
constexpr std::uint8_t pktAllUsersRequest = 18;
constexpr std::uint8_t pktQueueShare = 19;
}  // namespace in

// Server to client.
namespace out {
constexpr std::uint8_t pktUserLoggedOn = 1;
constexpr std::uint8_t pktChat = 2;
constexpr std::uint8_t pktNotice = 3;
constexpr std::uint8_t pktUserLoggedOff = 4;
constexpr std::uint8_t pktWelcome = 5;
constexpr std::uint8_t pktServerMessage = 6;
constexpr std::uint8_t pktInfoReply = 7;
constexpr std::uint8_t pktGameQuery = 8;
constexpr std::uint8_t pktUserList = 9;
constexpr std::uint8_t pktAccountCreated = 10;
constexpr std::uint8_t pktKeepAlive = 11;
constexpr std::uint8_t pktUserLeftChannel = 12;
constexpr std::uint8_t pktJoinResult = 13;
constexpr std::uint8_t pktWhisper = 14;
constexpr std::uint8_t pktUserJoinedChannel = 15;
constexpr std::uint8_t pktNameLookupReply = 16;
constexpr std::uint8_t pktStats = 17;
constexpr std::uint8_t pktAllUsers = 18;
constexpr std::uint8_t pktQueueShare = 19;
}  // namespace out

// The second field of a notice.
enum class NoticeKind { refusal, information };

// Payload fields are separated by single NULs.
std::vector<std::string_view> splitFields(std::string_view payload);
std::string joinFields(std::initializer_list<std::string_view> fields);

// pktNotice: the text, NUL, "0" or "1".
void sendNotice(Server& server, int connection, std::string_view text, NoticeKind kind);
// pktNotice with kind "1" to every connected socket.
void noticeToAll(Server& server, std::string_view text);

}  // namespace murmur
