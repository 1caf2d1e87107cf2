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
#include "core/DataCache.h"
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
    std::string address;           // of the connection the slot holds
    std::uint32_t generation = 0;  // counts the connections the slot has held
    // Its unsent output passed the limit; it is dropped after the handler. The next accept on the
    // slot clears it, so a newcomer is never taken for the client that overflowed.
    bool overflowing = false;

    // How its output flows. A client whose unsent output is high holds back the clients whose
    // packets filled it, until it has taken most of it; one that takes nothing for a while is
    // stalled and holds nobody back, so that it reaches the send limit.
    bool stalled = false;
    std::uint64_t deliveredMark = 0;  // what its peer had taken when last looked at
    std::int32_t progressTick = 0;    // when its peer last took something
    // The connections, with their generations, whose unsent output this client's input filled:
    // its input is not read while they are full.
    std::vector<std::pair<ConnectionNumber, std::uint32_t>> waitingOn;
    // The sender, with its generation, whose waitingOn last took this client, so that a fan-out to
    // many full queues costs each one step (generation 0: none; no connection has it).
    std::pair<ConnectionNumber, std::uint32_t> heldFor{0, 0};

    // What its packets may still put before the operator, in characters as shown; it fills again
    // with time. Lines beyond it are not shown, only counted.
    std::int64_t viewBudget = 0;
    std::int32_t viewBudgetTick = 0;
    int linesNotShown = 0;
};

// Bounds that keep one client, or many idle ones, from holding the server's resources.
struct Limits {
    int logonTimeoutSeconds = 30;    // a connection must log on within this time
    std::size_t sendLimit = 1 << 20; // unsent bytes a client may hold before it is dropped
    int maxConnections = 10000;      // connections open or still closing at once
    int maxPerAddress = 20;          // connections open at once from one address; 0: no limit
};

// A connection that has not logged on yet, in accept order.
struct AwaitingLogon {
    ConnectionNumber number;
    std::uint32_t generation;  // of its slot, so that a later connection on the number is not it
    std::int32_t accepted;     // tick of the accept
};

// What the operator's /stats counts since start-up. Each is bumped in one place.
struct Counters {
    std::int32_t startTick = 0;
    LocalTime startTime;
    std::uint64_t logonAttempts = 0;  // logons handled; those not accepted were refused
    std::uint64_t logons = 0;         // logons accepted
    std::uint64_t bytesIn = 0;        // read from clients
    std::uint64_t bytesOut = 0;       // queued for clients
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
    // No socket below this one is free: an accept looks for the first closed socket from here.
    int firstFree = 0;
    std::vector<std::string> lstUsers;
    std::string lblUsers;
    ChatView rtbChat;

    // Lower-cased names whose chat only staff see.
    std::unordered_set<std::string> globalFilter;
    // Lower-cased channel name to the names banned from it, joined by ", ".
    std::unordered_map<std::string, std::string> channelBans;
    // Lower-cased channel name to the spelling its first user gave it, and to the connections
    // whose records are in it, ascending; both forget a channel when its last member leaves.
    std::unordered_map<std::string, std::string> channelNames;
    std::unordered_map<std::string, std::vector<ConnectionNumber>> channelMembers;
    // Connections of users who hear every channel, ascending.
    std::vector<ConnectionNumber> channelPhantoms;
    // Lower-cased logon name to the connections whose records hold it (the empty name: those not
    // logged on), so that no request walks the table.
    std::unordered_map<std::string, std::vector<ConnectionNumber>> logonNames;
    // The data files read at every logon, as last read.
    struct {
        ListCache administrators, moderators, bannedNames, bannedAddresses;
        AccountCache accounts;
    } dataFiles;
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
    Counters counters;
    int openConnections = 0;
    std::unordered_map<std::string, int> connectionsPerAddress;  // by hostKey
    std::deque<AwaitingLogon> awaitingLogon;
    std::unique_ptr<Timer> logonTimer;
    // The connection whose packets are being handled, or -1: it is held back when the output it
    // causes fills another client's queue.
    int currentSender = -1;
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

// An entry of the operator's console, in code-page text, run as one handler: the same from the
// window, standard input and an attached console.
void runConsoleEntry(Server& server, const std::string& entry);

}  // namespace murmur
