// One record per open client connection, from accept until the connection ends.
#pragma once

#include <cstdint>
#include <string>

namespace murmur {

using ConnectionNumber = std::int16_t;

class clsUserData {
public:
    std::string channel;
    std::string authString;    // "admin", "moderator" or "normal"
    std::string originalName;  // the logon name, without a staff prefix
    std::string listName;      // the logon name with its staff prefix
    std::int16_t numRequests = 0;
    std::int16_t numReplies = 0;
    std::string product;
    bool hasLoggedIn = false;
    bool isQueueSharing = false;
    std::string IP;
    std::string flags;  // staff code as decimal text
    std::int32_t initialPing = 0;
    std::int32_t ping = 0;
    bool isChannelPhantom = false;
};

}  // namespace murmur
