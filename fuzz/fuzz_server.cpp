// The whole server over the fake host, driven by a script of events that the input spells out:
// clients connecting, bytes and packets arriving on any connection, peers closing or ceasing to
// read, every timer ticking, the clock moving, and operator console lines. Like a turn of the real
// loop, several events may run as one batch, so a close, an accept or a client passing the send
// limit can fall between two handlers of one turn, before the work left for after handlers (the
// drops of clients over the limit, the freeing of unloaded sockets). After every event the socket
// array and the user table must still describe each other; at the end the chat view must account
// for its own length. Crashes and undefined behaviour are caught by the sanitizers.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Wiring.h"
#include "core/Connections.h"
#include "core/Lifecycle.h"
#include "core/Membership.h"
#include "core/Server.h"
#include "staff/Accounts.h"
#include "support/FakeHost.h"
#include "support/Wire.h"

namespace {

using murmur::Server;
using murmur::test::FakeHost;
using murmur::test::FakeSocket;

constexpr int kMostEvents = 256;
// Every client hears every broadcast, so a kick of everybody costs the square of the clients; a
// handful of clients already gives every interleaving, and runs stay fast.
constexpr int kMostClients = 12;

// Names that the rosters know, names that differ only in case, names the logon refuses, and a few
// that patterns of the kick and ban commands pick up.
const char* const kNames[] = {
    "Boss", "Mod", "alice", "Alice", "bob", "bob2", "carol", "dave7", "x", "", "@Boss", "%Mod", "a b", "a:b", "Q",
    "zed", "Banned", "eve",
};
const char* const kAddresses[] = {"10.0.0.1", "10.0.0.2", "10.0.0.9", "127.0.0.1", "192.168.1.20"};
const char* const kProducts[] = {"1", "2", "8", "9", "0", "x", "&H8", "1e3", " 8 ", "-1"};
const char* const kPasswords[] = {"", "pw", "secret", "\xfe\xff\x01", "pw2"};
const char* const kChannels[] = {"Main", "main", "The Void", "Lobby", "lobby", "Secret", "Allowed", "",
                                 "A very long channel name that is longer than any client allows"};
// Command lines as clients type them in chat and as the operator types them at the console.
const char* const kCommands[] = {
    "/kick alice", "/kick alice too loud", "/ban bob", "/ban bob --server spam", "/kick * --server all",
    "/ban a* --server", "/kick [a-c]* --server why", "/ban ?ob# --server", "/kick [!b]* --server",
    "/unban bob", "/finger alice", "/move alice Lobby", "/move bob The Void", "/mute alice", "/unmute alice",
    "/mute Boss", "/makemod alice", "/makeadmin bob", "/channelphantom on", "/channelphantom off",
    "/broadcast hello all", "/kick Boss", "/ban Mod", "/kick", "/", "/e waves", "/Kick alice", "/ban --server",
};
const char* const kConsoleLines[] = {
    "/kick alice", "/kick *", "/ban bob", "/ban a*", "/kick [a-z]*", "/ban ?", "/kick #*", "/ban [!x]* reason here",
    "/sweepserv", "/SweepServ", "/cls", "/CLS", "hello everybody", "/makeadmin alice", "/makemod bob",
    "/mute alice", "/unmute alice", "/move alice Lobby", "/finger bob", "/broadcast from the console",
    "/unban bob", "/channelphantom on", "/", " /kick alice", "/kick alice because",
};
const char* const kIdleLines[] = {"Welcome to %v", "Say hi to %rnd", "", "%rnd%rnd%v"};

template <typename T, std::size_t N>
constexpr std::size_t countOf(const T (&)[N]) {
    return N;
}

// Reads the script; past its end every read gives zero, so a short input ends cleanly.
class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    template <typename T, std::size_t N>
    const char* pick(const T (&table)[N]) {
        return table[byte() % N];
    }
    // A length byte and that many bytes.
    std::string bytes() {
        std::size_t n = byte();
        n = std::min(n, size_ - at_);
        std::string out(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::string& dataDirectory() {
    static std::string directory = [] {
        std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/murmur-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return directory;
}

void removeDataDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(dataDirectory(), ignored);
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Every file a run can write goes, so the next run starts from the same directory.
void resetData(const std::string& dir) {
    static const char* const files[] = {"users.txt", "users.txt.lock", "banned.txt", "IPs.txt", "admin.txt", "mods.txt",
                                        "Idles.txt", "RestrictedChannels.txt", "AllowedChannels.txt", "MMConf.ini"};
    for (const char* name : files) ::unlink((dir + "/" + name).c_str());
    std::error_code ignored;
    std::filesystem::remove_all(dir + "/logs", ignored);
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void checkTables(const Server& server, const FakeHost& host) {
    int count = murmur::socketCount(server);
    if (count < 1) broken("the socket array lost element 0");
    for (const auto& slot : server.sckRecv)
        if (!slot.socket) broken("a null socket in the array");
    // The server made every socket the host knows and still holds each one, in the array or, until
    // the end of the turn, aside.
    if (host.sockets().size() != server.sckRecv.size() + server.unloadedSockets.size()) broken("sockets leaked or lost");
    for (const auto& [number, record] : server.users)
        if (number < 0 || number >= count) broken("a user record beyond the socket array");
    if (server.lblUsers.rfind("Total Users: ", 0) != 0) broken("the count label lost its wording");
    // The indexes of channels, phantoms and names describe the records exactly.
    std::size_t inChannels = 0, named = 0, phantoms = 0, members = 0, names = 0;
    for (const auto& [number, record] : server.users) {
        ++inChannels;
        const auto& list = murmur::channelMembers(server, record.channel);
        if (!std::binary_search(list.begin(), list.end(), number)) broken("a record missing from its channel");
        ++named;
        if (murmur::findUserByName(server, record.originalName) < 0) broken("a name the index does not know");
        phantoms += record.isChannelPhantom;
    }
    for (const auto& [key, list] : server.channelMembers) members += list.size();
    for (const auto& [key, list] : server.logonNames) names += list.size();
    if (members != inChannels || names != named || phantoms != server.channelPhantoms.size()) broken("an index out of step");
    for (const auto& [key, spelling] : server.channelNames)
        if (!server.channelMembers.count(key)) broken("the spelling of a channel nobody is in");
    for (int i = 0; i < std::min(server.firstFree, count); ++i)
        if (server.sckRecv[static_cast<std::size_t>(i)].socket->state() == murmur::sckClosed) broken("a free socket below the first free");
    // Whatever the peers take at a time, each has what was sent to it in order, and the rest waits.
    for (const FakeSocket* socket : host.sockets())
        if (socket->state() == murmur::sckConnected && !socket->outputInOrder()) broken("output out of order or lost");
}

void checkChatView(const Server& server) {
    std::size_t total = 0;
    for (const auto& line : server.rtbChat.lines()) {
        if (line.lineEnd < 0 || line.lineEnd > 2) broken("a line end beyond CR LF");
        total += line.length();
    }
    if (total != server.rtbChat.length()) broken("the chat view length does not add up");
}

// The connection a script byte names: any loaded socket; the caller decides what state it needs.
FakeSocket* socketFor(Server& server, std::uint8_t which, int& number) {
    number = which % murmur::socketCount(server);
    return static_cast<FakeSocket*>(server.sckRecv[static_cast<std::size_t>(number)].socket.get());
}

// The name a packet states: mostly the sender's own, as the server drops a packet stating another,
// sometimes any name of the table.
std::string statedName(Server& server, std::uint8_t which, Script& script) {
    std::string any = script.pick(kNames);
    if (script.byte() % 4 == 0) return any;
    const murmur::clsUserData* record =
        server.users.find(static_cast<murmur::ConnectionNumber>(which % murmur::socketCount(server)));
    return record ? record->originalName : any;
}

// Bytes arrive only on a connected socket, as they do from a real peer.
void deliverTo(Server& server, std::uint8_t which, const std::string& bytes) {
    int number = 0;
    FakeSocket* socket = socketFor(server, which, number);
    if (socket->state() == murmur::sckConnected) socket->deliver(bytes);
}

void seedFiles(const std::string& dir, std::uint8_t flags, Script& script) {
    writeFile(dir + "/admin.txt", "Boss\r\n");
    writeFile(dir + "/mods.txt", "Mod\r\n");
    // Staff rank needs the account's password: "pw" proves it, any other password does not.
    std::string stored = murmur::hashPassword("pw");
    writeFile(dir + "/users.txt", "Boss:" + stored + "\r\nMod:" + stored + "\r\n");
    if (flags & 0x01) writeFile(dir + "/banned.txt", "Banned\r\n");
    if (flags & 0x02) writeFile(dir + "/IPs.txt", "10.0.0.9\r\n");
    if (flags & 0x04) {
        std::string idles;
        for (int i = 0; i < 3; ++i) idles += std::string(script.pick(kIdleLines)) + "\r\n";
        writeFile(dir + "/Idles.txt", idles);
    }
    if (flags & 0x08) {
        writeFile(dir + "/RestrictedChannels.txt", "Secret\r\nlobby\r\n");
        writeFile(dir + "/AllowedChannels.txt", "Allowed\r\n");
    }
    if (flags & 0x10) {
        // Small windows so that spam and load control act within a short script.
        std::string ini = "[Server]\r\nPort=4800\r\n[Settings]\r\nAuthentication=N\r\n";
        ini += (flags & 0x80) ? "WriteLogToFile=Y\r\n" : "WriteLogToFile=N\r\n";
        ini += "[Spam Control]\r\nEnabled=Y\r\nMessageCount=" + std::to_string(1 + script.byte() % 4) +
               "\r\nSecondsToCheck=" + std::to_string(script.byte() % 3) + "\r\n";
        ini += "[Load Control]\r\nEnabled=Y\r\nAmountOfConnections=" + std::to_string(1 + script.byte() % 3) +
               "\r\nAmountOfTime=" + std::to_string(script.byte() % 3) + "\r\n";
        ini += "[Idle System]\r\nIdleTime=" + std::to_string(script.byte() % 3) + "\r\n";
        writeFile(dir + "/MMConf.ini", ini);
    }
}

void tuneSettings(Server& server, std::uint8_t flags) {
    // Operator choices that start-up leaves alone: validation, the idle system, spam control.
    if (flags & 0x01) server.settings.authentication = "Y";
    if (flags & 0x02) {
        server.settings.idleSystem = "Y";
        server.tmrIdle->setEnabled(true);
    }
    if (flags & 0x04) server.settings.spamControl = "N";
    if (flags & 0x08) server.settings.loadControl = "Y";
    if (flags & 0x10) server.settings.idleTime = 1;
}

void runEvent(Server& server, FakeHost& host, Script& script, bool inBatch = false) {
    std::uint8_t op = script.byte();
    switch (op % 21) {
        case 0: {  // a client connects
            int connected = 0;
            for (int i = 0; i < murmur::socketCount(server); ++i)
                connected += murmur::socketState(server, i) != murmur::sckClosed;
            const char* address = script.pick(kAddresses);
            if (connected < kMostClients) host.connect(address);
            break;
        }
        case 1: {  // raw bytes, framed or not
            std::uint8_t which = script.byte();
            deliverTo(server, which, script.bytes());
            break;
        }
        case 2: {  // one packet of any id with any payload
            std::uint8_t which = script.byte();
            int id = script.byte() % 21;
            deliverTo(server, which, murmur::test::frame(id, script.bytes()));
            break;
        }
        case 3: {  // a logon
            std::uint8_t which = script.byte();
            std::string name = script.pick(kNames);
            std::string password = script.pick(kPasswords);
            std::string product = script.pick(kProducts);
            deliverTo(server, which, murmur::test::frame(1, murmur::test::fields({name, password, product})));
            break;
        }
        case 4: {  // chat with any text
            std::uint8_t which = script.byte();
            std::string name = statedName(server, which, script);
            deliverTo(server, which, murmur::test::frame(2, murmur::test::fields({name, script.bytes()})));
            break;
        }
        case 5: {  // a command typed in chat
            std::uint8_t which = script.byte();
            std::string name = statedName(server, which, script);
            deliverTo(server, which, murmur::test::frame(2, murmur::test::fields({name, script.pick(kCommands)})));
            break;
        }
        case 6: {  // the peer ends the connection
            int number = 0;
            socketFor(server, script.byte(), number)->peerCloses();
            break;
        }
        case 7:  // the period of one of the server's timers runs out; only a running timer ticks
            if (!host.timers.empty()) host.timers[script.byte() % host.timers.size()]->fire();
            break;
        case 8: {  // an operator line from the table
            std::string line = script.pick(kConsoleLines);
            host.runHandler([&] { server.consoleHandler(line); });
            break;
        }
        case 9: {  // an operator line of any text
            std::string line = script.bytes();
            host.runHandler([&] { server.consoleHandler(line); });
            break;
        }
        case 10: {  // a channel join
            std::uint8_t which = script.byte();
            std::string name = statedName(server, which, script);
            deliverTo(server, which, murmur::test::frame(12, murmur::test::fields({name, script.pick(kChannels)})));
            break;
        }
        case 11: {  // a whisper
            std::uint8_t which = script.byte();
            std::string from = statedName(server, which, script);
            std::string to = script.pick(kNames);
            deliverTo(server, which, murmur::test::frame(14, murmur::test::fields({from, to, script.bytes()})));
            break;
        }
        case 12: {  // requests that need no fields, and keep-alive replies
            static const int ids[] = {9, 11, 11, 17, 18};
            std::uint8_t which = script.byte();
            deliverTo(server, which, murmur::test::frame(ids[script.byte() % 5], ""));
            break;
        }
        case 13: {  // requests about a name: info, lookup, game query, queue share
            std::uint8_t which = script.byte();
            std::string name = script.pick(kNames);
            switch (script.byte() % 4) {
                case 0: deliverTo(server, which, murmur::test::frame(7, name)); break;
                case 1: deliverTo(server, which, murmur::test::frame(16, name)); break;
                case 2:
                    deliverTo(server, which, murmur::test::frame(8, murmur::test::fields({script.bytes(), name})));
                    break;
                default: deliverTo(server, which, murmur::test::frame(19, script.bytes())); break;
            }
            break;
        }
        case 14:  // time passes
            host.ticks += static_cast<std::int32_t>(script.byte()) * 150;
            break;
        case 16: {  // a peer stops reading, so its output piles up towards the send limit; takes only a
                    // part at each write; or catches up
            int number = 0;
            FakeSocket* socket = socketFor(server, script.byte(), number);
            switch (script.byte() % 3) {
                case 0: socket->reading = false; break;
                case 1:
                    socket->reading = true;
                    socket->window = 1 + script.byte() * 7u;
                    break;
                default: socket->catchUp(); break;
            }
            break;
        }
        case 18: {  // bytes arrive and wait for the next turn of the loop
            int number = 0;
            FakeSocket* socket = socketFor(server, script.byte(), number);
            std::string bytes = script.bytes();
            if (socket->state() == murmur::sckConnected) socket->arrive(bytes);
            break;
        }
        case 19:  // a turn of the loop: every connection with input gets a bounded piece read
            host.turn();
            break;
        case 20:  // connections the host still closes, which count towards the limit
            host.closing = script.byte() % 4;
            break;
        case 17: {  // several events in one turn of the loop
            if (inBatch) break;
            int count = 1 + script.byte() % 8;
            host.runHandler([&] {
                for (int i = 0; i < count && !script.done(); ++i) {
                    runEvent(server, host, script, true);
                    checkTables(server, host);
                }
            });
            break;
        }
        case 15: {  // a packet split across two arrivals on one connection
            std::uint8_t which = script.byte();
            std::string packet = murmur::test::frame(2, murmur::test::fields({script.pick(kNames), script.bytes()}));
            std::size_t cut = packet.empty() ? 0 : script.byte() % packet.size();
            deliverTo(server, which, packet.substr(0, cut));
            deliverTo(server, which, packet.substr(cut));
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dataDirectory();
    std::atexit(removeDataDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script(data, size);
    const std::string& dir = dataDirectory();
    resetData(dir);
    seedFiles(dir, script.byte(), script);

    FakeHost host;
    Server server(host, dir);
    murmur::wireHandlers(server);
    host.runHandler([&] { murmur::startUp(server); });
    // Small enough that a client which stops reading passes it within a short script, and that
    // newcomers displace connections that have not logged on.
    server.limits.sendLimit = 2048;
    server.limits.maxConnections = 9;
    server.limits.maxPerAddress = 4;
    std::uint8_t tuning = script.byte();
    tuneSettings(server, tuning);
    checkTables(server, host);

    for (int events = 0; events < kMostEvents && !script.done(); ++events) {
        runEvent(server, host, script);
        checkTables(server, host);
        if (!server.unloadedSockets.empty()) broken("an unloaded socket outlived its turn");
    }
    checkChatView(server);
    for (FakeSocket* socket : host.sockets()) {
        if (socket->state() != murmur::sckConnected) continue;
        socket->catchUp();
        if (socket->pendingOutput() != 0 || !socket->outputInOrder()) broken("output never delivered");
    }
    if (tuning & 0x80) host.runHandler([&] { murmur::shutDown(server); });
    return 0;
}
