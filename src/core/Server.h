// The one state of the server. Every handler is a free function over it; tests build a fresh one
// for each case.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/ChatView.h"
#include "core/Frontend.h"
#include "core/OrderedMap.h"
#include "core/Settings.h"
#include "core/UserData.h"
#include "host/Host.h"

namespace murmur {

// One element of the client socket array, with the received bytes of a packet not yet complete.
struct SocketSlot {
    std::unique_ptr<ClientSocket> socket;
    std::string pending;
    // Its unsent output passed the limit; it is dropped after the handler. The next accept on the
    // slot clears it, so a newcomer is never taken for the client that overflowed.
    bool overflowing = false;
};

// Bounds that keep one client, or many idle ones, from holding the server's resources.
struct Limits {
    int logonTimeoutSeconds = 30;    // a connection must log on within this time
    std::size_t sendLimit = 1 << 20; // unsent bytes a client may hold before it is dropped
    int maxConnections = 10000;      // connections open at once
};

// The wrong passwords given from one address, for the guess throttle.
struct FailedLogons {
    std::deque<std::int32_t> ticks;  // the latest few, oldest first
    bool locked = false;             // logons from the address are refused since lockedAt
    std::int32_t lockedAt = 0;
};

using PacketHandler = std::function<void(std::uint8_t id, ConnectionNumber connection, std::string_view payload)>;
using ConsoleHandler = std::function<void(const std::string& text)>;

struct Server {
    Server(Host& host, std::string dataDirectory);
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server();

    // The data file of that name in the data directory.
    std::string path(std::string_view fileName) const;

    Host& host;
    std::string dataDirectory;
    std::string titleText;
    Settings settings;

    OrderedMap<ConnectionNumber, clsUserData> users;
    std::vector<SocketSlot> sckRecv;  // never has gaps; element 0 always exists
    std::vector<std::string> lstUsers;
    std::string lblUsers;
    ChatView rtbChat;

    // Lower-cased names whose chat only staff see.
    std::unordered_set<std::string> globalFilter;
    // Lower-cased channel name to the names banned from it, joined by ", ".
    std::unordered_map<std::string, std::string> channelBans;
    // Lower-cased channel name to the spelling its first user gave it.
    std::unordered_map<std::string, std::string> channelNames;
    std::vector<std::string> restrictedChannels;
    std::vector<std::string> allowedChannels;
    // Queue sharers that have had their turn in this round.
    std::set<ConnectionNumber> queueRound;
    // Chat lines and logons per connection number since the last check.
    OrderedMap<ConnectionNumber, std::int16_t> spamCounts;
    OrderedMap<ConnectionNumber, std::int16_t> logonCounts;
    // Wrong passwords by address (IPv6: by /64), the address with the latest one last.
    OrderedMap<std::string, FailedLogons> failedLogons;
    std::vector<std::string> idleMessages;
    std::int16_t idleMinutes = 0;

    std::unique_ptr<Timer> tmrKeepAlive;
    std::unique_ptr<Timer> tmrKillClients;
    std::unique_ptr<Timer> tmrHandleJunk;
    std::unique_ptr<Timer> tmrLoad;
    std::unique_ptr<Timer> tmrIdle;

    Limits limits;
    int openConnections = 0;
    // Connections waiting to log on, in accept order, with their accept tick.
    std::deque<std::pair<ConnectionNumber, std::int32_t>> logonDeadlines;
    std::unique_ptr<Timer> logonTimer;
    std::vector<ConnectionNumber> overflowing;
    // Sockets taken out of the array, freed after the handler: a socket never goes inside its own
    // event, nor under a walk over the array.
    std::vector<std::unique_ptr<ClientSocket>> unloadedSockets;

    // Where each whole received packet and each console entry goes; set by the wiring above the
    // layers (a test may put its own).
    PacketHandler packetHandler;
    ConsoleHandler consoleHandler;
    Frontend* frontend = nullptr;

    Frontend& ui();

private:
    Frontend noFrontend_;
    std::unique_ptr<ChatSink> chatLog_;
};

}  // namespace murmur
