// loadgen: a single-threaded epoll load generator for chat servers.
//
// It speaks the Murmur wire protocol and plain IRC on its own, with no code shared with the server,
// so a framing mistake on either side shows up as a failed run rather than being agreed on by both.
//
// One run: log on every client (in batches, so a small listen backlog is never overrun), wait until
// every join notice has reached everyone, keep the clients alive through the idle and hold phases,
// then let the senders talk to the channel under a per-sender window and check that every other
// client got every line exactly once, in order. Anything else ends the run with a non-zero status.
//
// Build: g++ -std=c++20 -O2 -o loadgen loadgen.cpp

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Clock, failure, server process figures

std::uint64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

double seconds(std::uint64_t ns) { return static_cast<double>(ns) / 1e9; }

std::string gPhase = "start";
std::string gProtocolName;

[[noreturn]] void fail(const char* format, ...) {
    char message[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::fprintf(stderr, "\nLOADGEN FAIL (%s, phase %s): %s\n", gProtocolName.c_str(), gPhase.c_str(), message);
    // The result line is printed on failure too, so a script collecting results sees the failure.
    std::string escaped;
    for (const char* p = message; *p; ++p) {
        if (*p == '"' || *p == '\\') escaped.push_back('\\');
        if (static_cast<unsigned char>(*p) >= 32) escaped.push_back(*p);
    }
    std::printf("{\"ok\":false,\"protocol\":\"%s\",\"phase\":\"%s\",\"error\":\"%s\"}\n", gProtocolName.c_str(),
                gPhase.c_str(), escaped.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

struct ProcFigures {
    bool valid = false;
    long rssKb = 0;
    long hwmKb = 0;
    double cpuSeconds = 0;
    int threads = 0;
};

ProcFigures readProc(int pid) {
    ProcFigures f;
    if (pid <= 0) return f;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    if (FILE* file = std::fopen(path, "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, file)) {
            if (std::strncmp(line, "VmRSS:", 6) == 0) f.rssKb = std::strtol(line + 6, nullptr, 10);
            else if (std::strncmp(line, "VmHWM:", 6) == 0) f.hwmKb = std::strtol(line + 6, nullptr, 10);
        }
        std::fclose(file);
    } else {
        return f;
    }
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    if (FILE* file = std::fopen(path, "r")) {
        char text[4096];
        std::size_t n = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[n] = 0;
        // The command name may hold spaces and parentheses; the fields start after the last ')'.
        char* p = std::strrchr(text, ')');
        if (!p) return f;
        p += 2;
        // p is at field 3 (state); utime and stime are fields 14 and 15, threads field 20.
        unsigned long long utime = 0, stime = 0;
        long threads = 0;
        int field = 3;
        char* save = nullptr;
        for (char* tok = strtok_r(p, " ", &save); tok; tok = strtok_r(nullptr, " ", &save), ++field) {
            if (field == 14) utime = std::strtoull(tok, nullptr, 10);
            else if (field == 15) stime = std::strtoull(tok, nullptr, 10);
            else if (field == 20) {
                threads = std::strtol(tok, nullptr, 10);
                break;
            }
        }
        f.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
        f.threads = static_cast<int>(threads);
        f.valid = true;
    }
    return f;
}

// CPU seconds the whole machine spent busy, from /proc/stat; with the server's and the generator's
// own share taken away, what is left is other work that competed with the run.
double machineBusySeconds() {
    FILE* file = std::fopen("/proc/stat", "r");
    if (!file) return 0;
    unsigned long long v[10] = {};
    int got = std::fscanf(file, "cpu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                          &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
    std::fclose(file);
    if (got < 8) return 0;
    // user nice system idle iowait irq softirq steal: everything but idle and iowait.
    unsigned long long busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
    return static_cast<double>(busy) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// ---------------------------------------------------------------------------------------------
// Latency histogram: log-linear buckets, 128 per power of two (under 1% error), no allocation
// per sample, so millions of deliveries cost a few kilobytes.

class Histogram {
public:
    static constexpr int subBits = 7;
    static constexpr int sub = 1 << subBits;

    Histogram() : counts_(static_cast<std::size_t>(64 - subBits + 1) * sub, 0) {}

    void add(std::uint64_t v) {
        ++counts_[index(v)];
        ++total_;
        if (v > max_) max_ = v;
    }
    std::uint64_t count() const { return total_; }
    std::uint64_t max() const { return max_; }

    // The value below which the given fraction of samples lie (midpoint of the bucket).
    std::uint64_t percentile(double q) const {
        if (total_ == 0) return 0;
        auto want = static_cast<std::uint64_t>(q * static_cast<double>(total_));
        if (want >= total_) want = total_ - 1;
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            seen += counts_[i];
            if (seen > want) return std::min(midpoint(i), max_);
        }
        return max_;
    }

private:
    static std::size_t index(std::uint64_t v) {
        if (v < sub) return static_cast<std::size_t>(v);
        int e = 63 - __builtin_clzll(v);
        std::uint64_t m = (v >> (e - subBits)) & (sub - 1);
        return static_cast<std::size_t>(e - subBits + 1) * sub + static_cast<std::size_t>(m);
    }
    static std::uint64_t midpoint(std::size_t i) {
        if (i < sub) return i;
        int e = static_cast<int>(i / sub) + subBits - 1;
        std::uint64_t m = i % sub;
        std::uint64_t low = (std::uint64_t{1} << e) | (m << (e - subBits));
        return low + (std::uint64_t{1} << (e - subBits)) / 2;
    }

    std::vector<std::uint64_t> counts_;
    std::uint64_t total_ = 0;
    std::uint64_t max_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Options

enum class Protocol { murmur, irc };

struct Options {
    Protocol protocol = Protocol::murmur;
    std::string host = "127.0.0.1";
    int port = 0;
    int clients = 10;
    int senders = 0;
    int lines = 0;
    int length = 100;
    double idle = 0;
    double hold = 0;
    int serverPid = 0;
    int connectBatch = 32;    // connections started but not yet in the channel
    double connectRate = 0;   // new connections per second, 0 for no limit
    int window = 8;           // lines in flight per sender
    int coalesceMs = 2;       // outside the send phase, the least time between two polls
    int sourceAddresses = 1;  // spread connections over 127.0.0.1..N when more than one
    double timeout = 600;
    double settleTimeout = 300;
    std::string channel = "#main";
    std::string namePrefix = "b";
    bool quiet = false;
};

[[noreturn]] void usage(int status) {
    std::fputs(
        "usage: loadgen --protocol murmur|irc --port N [options]\n"
        "  --host ADDR            server address (127.0.0.1)\n"
        "  --clients N            clients to log on (10)\n"
        "  --senders N            clients that send lines to the channel (0)\n"
        "  --lines N              lines per sender (0)\n"
        "  --length N             characters per line (100)\n"
        "  --idle S               seconds to stay idle after logon, answering keep-alives\n"
        "  --hold S               seconds to hold every client after the idle phase\n"
        "  --pid PID              server process: RSS and CPU are read from /proc/PID\n"
        "  --connect-batch N      at most N clients between connect and channel entry (32)\n"
        "  --connect-rate R       at most R new connections per second (no limit)\n"
        "  --window W             lines in flight per sender (8)\n"
        "  --coalesce-ms MS       outside the send phase, poll at most every MS ms, so each read\n"
        "                         takes many notices at once and the generator leaves the CPU\n"
        "                         to the server (2; 0 polls as soon as anything arrives)\n"
        "  --source-addresses N   spread clients over source addresses 127.0.0.1..N (1)\n"
        "  --timeout S            hard limit for the whole run (600)\n"
        "  --settle-timeout S     limit for the join notices to reach everyone (300)\n"
        "  --name-prefix P        client names are P followed by a number (b)\n"
        "  --quiet                no progress lines on standard error\n",
        status ? stderr : stdout);
    std::exit(status);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "loadgen: %s needs a value\n", a.c_str());
                usage(2);
            }
            return argv[++i];
        };
        if (a == "--protocol") {
            std::string p = next();
            if (p == "murmur") o.protocol = Protocol::murmur;
            else if (p == "irc") o.protocol = Protocol::irc;
            else usage(2);
        } else if (a == "--host") o.host = next();
        else if (a == "--port") o.port = std::atoi(next().c_str());
        else if (a == "--clients") o.clients = std::atoi(next().c_str());
        else if (a == "--senders") o.senders = std::atoi(next().c_str());
        else if (a == "--lines") o.lines = std::atoi(next().c_str());
        else if (a == "--length") o.length = std::atoi(next().c_str());
        else if (a == "--idle") o.idle = std::atof(next().c_str());
        else if (a == "--hold") o.hold = std::atof(next().c_str());
        else if (a == "--pid") o.serverPid = std::atoi(next().c_str());
        else if (a == "--connect-batch") o.connectBatch = std::atoi(next().c_str());
        else if (a == "--connect-rate") o.connectRate = std::atof(next().c_str());
        else if (a == "--window") o.window = std::atoi(next().c_str());
        else if (a == "--coalesce-ms") o.coalesceMs = std::atoi(next().c_str());
        else if (a == "--source-addresses") o.sourceAddresses = std::atoi(next().c_str());
        else if (a == "--timeout") o.timeout = std::atof(next().c_str());
        else if (a == "--settle-timeout") o.settleTimeout = std::atof(next().c_str());
        else if (a == "--name-prefix") o.namePrefix = next();
        else if (a == "--quiet") o.quiet = true;
        else if (a == "--help" || a == "-h") usage(0);
        else {
            std::fprintf(stderr, "loadgen: unknown option %s\n", a.c_str());
            usage(2);
        }
    }
    if (o.port <= 0 || o.port > 65535 || o.clients < 1 || o.senders < 0 || o.senders > o.clients || o.lines < 0 ||
        o.connectBatch < 1 || o.window < 1 || o.sourceAddresses < 1 || o.sourceAddresses > 250) {
        std::fprintf(stderr, "loadgen: bad option values\n");
        usage(2);
    }
    // The tag "m" + 5-digit sender + "-" + 7-digit sequence + "-" needs 15 characters; a Murmur
    // server drops chat longer than 200 characters, an IRC line is at most 512 bytes.
    if (o.length < 16 || o.length > 400 || o.senders > 99999 || o.lines > 9999999) {
        std::fprintf(stderr, "loadgen: --length must be 16..400, senders < 100000, lines < 10^7\n");
        usage(2);
    }
    if (o.senders > 0 && o.clients < 2) {
        std::fprintf(stderr, "loadgen: senders need at least one other client to hear them\n");
        usage(2);
    }
    return o;
}

// ---------------------------------------------------------------------------------------------
// Clients

enum class State : std::uint8_t { unused, connecting, registering, joining, ready, closed };

struct Client {
    int fd = -1;
    State state = State::unused;
    int sender = -1;          // index into the sender table, or -1
    std::uint64_t joins = 0;  // join notices seen (Murmur id 15 / IRC JOIN to the channel)
    std::uint64_t pings = 0;
    std::uint64_t lastPingNs = 0;
    std::uint64_t lastReadNs = 0;
    std::uint64_t bytesIn = 0;
    std::string name;
    std::string in;   // the unfinished tail of the last read
    std::string out;  // bytes the socket did not take yet
    bool watchingOut = false;
};

struct Sender {
    int client = 0;
    std::uint32_t nextSeq = 0;   // next line to send
    std::uint32_t inFlight = 0;  // sent but not yet heard by every receiver
    std::uint32_t done = 0;
};

constexpr std::size_t readBufferSize = 1 << 20;

class Generator {
public:
    explicit Generator(const Options& o) : o_(o), clients_(static_cast<std::size_t>(o.clients)) {
        readBuf_.resize(readBufferSize + 65536 * 2);
        epfd_ = epoll_create1(EPOLL_CLOEXEC);
        if (epfd_ < 0) fail("epoll_create1: %s", std::strerror(errno));
        for (int i = 0; i < o_.clients; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "%s%05d", o_.namePrefix.c_str(), i);
            clients_[static_cast<std::size_t>(i)].name = name;
            clients_[static_cast<std::size_t>(i)].in.reserve(512);
        }
        // Senders are spread over the client list, so they are not all the first to log on.
        senders_.resize(static_cast<std::size_t>(o_.senders));
        for (int s = 0; s < o_.senders; ++s) {
            int c = static_cast<int>(static_cast<long long>(s) * o_.clients / o_.senders);
            senders_[static_cast<std::size_t>(s)].client = c;
            clients_[static_cast<std::size_t>(c)].sender = s;
        }
        std::size_t totalLines = static_cast<std::size_t>(o_.senders) * static_cast<std::size_t>(o_.lines);
        sendTime_.assign(totalLines, 0);
        remaining_.assign(totalLines, static_cast<std::uint32_t>(o_.clients - 1));
        expectedSeq_.assign(static_cast<std::size_t>(o_.clients) * static_cast<std::size_t>(o_.senders), 0);
        // The pattern after the tag changes with the sequence number, so a line relayed with
        // another's body, or cut, is caught.
        pad_.resize(static_cast<std::size_t>(o_.length) * 2 + 32);
        for (std::size_t i = 0; i < pad_.size(); ++i) pad_[i] = static_cast<char>('a' + i % 26);

        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(o_.port));
        if (inet_pton(AF_INET, o_.host.c_str(), &addr.sin_addr) != 1) fail("bad IPv4 address %s", o_.host.c_str());
        server_ = addr;
    }

    int run();

private:
    // --- connections
    void startConnection(int index);
    void onConnected(int index);
    void closeAll();
    void watch(int index, bool out);
    void sendBytes(int index, const char* data, std::size_t size);
    void flushOut(int index);
    void readFrom(int index);
    void lost(int index, const char* why);

    // --- protocols
    std::size_t parseMurmur(int index, const char* data, std::size_t size);
    std::size_t parseIrc(int index, const char* data, std::size_t size);
    void onMurmurPacket(int index, std::uint8_t id, const char* p, std::size_t n);
    void onIrcLine(int index, const char* line, std::size_t n);
    void becameReady(int index);
    void onChatLine(int receiver, std::string_view from, std::string_view text);
    void sendLine(int s);

    // --- loop
    void pump(int timeoutMs);
    void progress(const char* what);
    void checkDeadline();

    const Options& o_;
    std::vector<Client> clients_;
    std::vector<Sender> senders_;
    std::vector<std::uint64_t> sendTime_;
    std::vector<std::uint32_t> remaining_;
    std::vector<std::uint32_t> expectedSeq_;  // [receiver * senders + sender]
    std::string pad_;
    std::vector<char> readBuf_;
    sockaddr_in server_{};
    int epfd_ = -1;

    std::uint64_t startNs_ = 0;
    std::uint64_t deadlineNs_ = 0;
    std::uint64_t lastProgressNs_ = 0;
    std::uint64_t readNs_ = 0;  // the time of the read being parsed

    int started_ = 0;
    int inChannel_ = 0;
    int open_ = 0;
    std::uint64_t joinNotices_ = 0;
    std::uint64_t pingsAnswered_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
    std::uint64_t reads_ = 0;  // read() calls that returned data: bytes_in / reads shows how the server batches
    std::uint64_t deliveries_ = 0;
    std::uint64_t linesDone_ = 0;
    std::uint64_t firstSendNs_ = 0;
    std::uint64_t lastDeliveryNs_ = 0;
    std::uint64_t notices_ = 0;
    bool sending_ = false;
    bool tail_ = false;  // after the send phase: any chat line now is a duplicate or a stray
    std::string logoffNotice_;
    std::uint64_t logoffDeadlineNs_ = 0;
    Histogram latency_;
};

void Generator::checkDeadline() {
    if (!logoffNotice_.empty() && nowNs() > logoffDeadlineNs_) fail("%s", logoffNotice_.c_str());
    if (nowNs() > deadlineNs_)
        fail("hard timeout of %.0f s reached: %d/%d in channel, %llu/%llu lines done, %llu deliveries", o_.timeout,
             inChannel_, o_.clients, static_cast<unsigned long long>(linesDone_),
             static_cast<unsigned long long>(sendTime_.size()), static_cast<unsigned long long>(deliveries_));
}

void Generator::progress(const char* what) {
    if (o_.quiet) return;
    std::uint64_t now = nowNs();
    if (now - lastProgressNs_ < 5000000000ull) return;
    lastProgressNs_ = now;
    ProcFigures f = readProc(o_.serverPid);
    std::fprintf(stderr,
                 "[loadgen %s %.1fs] %s: %d/%d in channel, join notices %llu, lines %llu/%zu, deliveries %llu, "
                 "server rss %ld MB cpu %.1fs\n",
                 gProtocolName.c_str(), seconds(now - startNs_), what, inChannel_, o_.clients,
                 static_cast<unsigned long long>(joinNotices_), static_cast<unsigned long long>(linesDone_),
                 sendTime_.size(), static_cast<unsigned long long>(deliveries_), f.rssKb / 1024, f.cpuSeconds);
}

void Generator::watch(int index, bool out) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | (out ? EPOLLOUT : 0u);
    ev.data.u32 = static_cast<std::uint32_t>(index);
    if (epoll_ctl(epfd_, EPOLL_CTL_MOD, c.fd, &ev) < 0) fail("epoll_ctl: %s", std::strerror(errno));
    c.watchingOut = out;
}

void Generator::startConnection(int index) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket() for client %d: %s (raise ulimit -n)", index, std::strerror(errno));
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (o_.sourceAddresses > 1) {
        setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7f000001u + static_cast<std::uint32_t>(index % o_.sourceAddresses));
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0)
            fail("bind to a source address: %s", std::strerror(errno));
    }
    int r = connect(fd, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
    if (r < 0 && errno != EINPROGRESS) fail("connect for client %d: %s", index, std::strerror(errno));
    c.fd = fd;
    c.state = State::connecting;
    ++open_;
    epoll_event ev{};
    ev.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
    ev.data.u32 = static_cast<std::uint32_t>(index);
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) < 0) fail("epoll_ctl add: %s", std::strerror(errno));
    c.watchingOut = true;
}

void Generator::onConnected(int index) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) fail("client %s could not connect: %s", c.name.c_str(), std::strerror(err));
    c.state = State::registering;
    watch(index, false);
    if (o_.protocol == Protocol::murmur) {
        // Logon: name, empty password, product code 1.
        std::string payload = c.name;
        payload.push_back('\0');
        payload.push_back('\0');
        payload.push_back('1');
        std::string frame;
        frame.push_back('\x01');
        frame += std::to_string(payload.size());
        frame.push_back('\0');
        frame += payload;
        sendBytes(index, frame.data(), frame.size());
    } else {
        std::string reg = "NICK " + c.name + "\r\nUSER " + c.name + " 0 * :loadgen\r\n";
        sendBytes(index, reg.data(), reg.size());
    }
}

void Generator::sendBytes(int index, const char* data, std::size_t size) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    if (c.fd < 0) return;
    bytesOut_ += size;
    if (!c.out.empty()) {
        c.out.append(data, size);
        return;
    }
    ssize_t w = ::send(c.fd, data, size, MSG_NOSIGNAL);
    if (w < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) lost(index, std::strerror(errno));
        w = 0;
    }
    if (static_cast<std::size_t>(w) < size) {
        c.out.append(data + w, size - static_cast<std::size_t>(w));
        if (!c.watchingOut) watch(index, true);
    }
}

void Generator::flushOut(int index) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    while (!c.out.empty()) {
        ssize_t w = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            lost(index, std::strerror(errno));
        }
        c.out.erase(0, static_cast<std::size_t>(w));
    }
    if (c.watchingOut) watch(index, false);
}

void Generator::lost(int index, const char* why) {
    const Client& c = clients_[static_cast<std::size_t>(index)];
    std::uint64_t now = nowNs();
    double sincePing = c.lastPingNs ? seconds(now - c.lastPingNs) : -1;
    // The last data before the end of stream tells a connection the server stopped writing to
    // (nothing for seconds) from one that only missed its keep-alives.
    double sinceData = c.lastReadNs ? seconds(now - c.lastReadNs) : -1;
    // How the other clients fared: were keep-alives reaching them, were they being read?
    int pingedRecently = 0, readRecently = 0, ready = 0;
    for (const Client& other : clients_) {
        if (other.state != State::ready) continue;
        ++ready;
        if (other.lastPingNs && now - other.lastPingNs < 2000000000ull) ++pingedRecently;
        if (other.lastReadNs && now - other.lastReadNs < 2000000000ull) ++readRecently;
    }
    fail("client %s was disconnected (%s); state %d, %llu keep-alives answered, last one %.2f s ago; "
         "last data before the end %.2f s ago, %llu bytes received in all; of the %d clients in the channel "
         "%d got a keep-alive and %d got data in the last 2 s; %d/%d in channel, %llu deliveries so far%s%s",
         c.name.c_str(), why, static_cast<int>(c.state), static_cast<unsigned long long>(c.pings), sincePing,
         sinceData, static_cast<unsigned long long>(c.bytesIn), ready, pingedRecently, readRecently, inChannel_,
         o_.clients, static_cast<unsigned long long>(deliveries_), logoffNotice_.empty() ? "" : "; before that: ",
         logoffNotice_.c_str());
}

void Generator::readFrom(int index) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    char* buf = readBuf_.data();
    for (int round = 0; round < 4; ++round) {
        std::size_t kept = c.in.size();
        if (kept) std::memcpy(buf, c.in.data(), kept);
        ssize_t r = ::read(c.fd, buf + kept, readBufferSize);
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            lost(index, std::strerror(errno));
        }
        if (r == 0) lost(index, "end of stream from the server");
        readNs_ = nowNs();
        c.lastReadNs = readNs_;
        ++reads_;
        c.bytesIn += static_cast<std::size_t>(r);
        bytesIn_ += static_cast<std::size_t>(r);
        std::size_t total = kept + static_cast<std::size_t>(r);
        std::size_t used = o_.protocol == Protocol::murmur ? parseMurmur(index, buf, total) : parseIrc(index, buf, total);
        c.in.assign(buf + used, total - used);
        if (c.in.size() > 65536 + 16) fail("client %s holds %zu bytes without a whole packet", c.name.c_str(), c.in.size());
        if (static_cast<std::size_t>(r) < readBufferSize) return;
    }
}

// ---------------------------------------------------------------------------------------------
// Murmur: id byte, decimal length, NUL, payload.

std::size_t Generator::parseMurmur(int index, const char* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size) {
        auto id = static_cast<std::uint8_t>(data[pos]);
        std::size_t p = pos + 1;
        std::size_t length = 0;
        while (p < size && data[p] != '\0') {
            char d = data[p];
            if (d < '0' || d > '9' || p - pos > 9)
                fail("client %s: bad frame from the server: id %u, length byte 0x%02x at offset %zu",
                     clients_[static_cast<std::size_t>(index)].name.c_str(), id, static_cast<unsigned char>(d), p - pos);
            length = length * 10 + static_cast<std::size_t>(d - '0');
            ++p;
        }
        if (p >= size) break;
        if (p == pos + 1) fail("client %s: frame with an empty length (id %u)", clients_[static_cast<std::size_t>(index)].name.c_str(), id);
        std::size_t start = p + 1;
        if (size - start < length) break;
        onMurmurPacket(index, id, data + start, length);
        pos = start + length;
    }
    return pos;
}

void Generator::onMurmurPacket(int index, std::uint8_t id, const char* p, std::size_t n) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    switch (id) {
        case 11: {
            static const char pong[] = {'\x0b', '0', '\0'};
            sendBytes(index, pong, sizeof pong);
            ++c.pings;
            c.lastPingNs = readNs_;
            ++pingsAnswered_;
            return;
        }
        case 2: {
            const char* nul = static_cast<const char*>(std::memchr(p, '\0', n));
            if (!nul) fail("client %s: chat packet without a NUL", c.name.c_str());
            onChatLine(index, std::string_view(p, static_cast<std::size_t>(nul - p)),
                       std::string_view(nul + 1, n - static_cast<std::size_t>(nul - p) - 1));
            return;
        }
        case 15: ++c.joins; ++joinNotices_; return;
        case 13:
            if (c.state == State::registering) {
                std::string_view payload(p, n);
                if (payload != std::string_view("Main\0success", 12))
                    fail("client %s: unexpected join result '%.*s'", c.name.c_str(), static_cast<int>(n), p);
                becameReady(index);
            }
            return;
        case 3: {
            // text NUL kind; kind 0 is a refusal.
            std::string_view payload(p, n);
            ++notices_;
            if (payload.size() >= 2 && payload.substr(payload.size() - 2) == std::string_view("\0" "0", 2))
                fail("client %s was refused: %.*s", c.name.c_str(), static_cast<int>(n - 2), p);
            if (sending_ || tail_) fail("client %s got an unexpected notice: %.*s", c.name.c_str(), static_cast<int>(n), p);
            return;
        }
        case 4:
            // The client that left is most likely about to see its own end of stream, which says
            // more; the run ends shortly either way.
            if (logoffNotice_.empty()) {
                logoffNotice_ = "client " + c.name + " was told that '" + std::string(p, n) +
                                "' logged off; no client of this run leaves";
                logoffDeadlineNs_ = readNs_ + 1000000000ull;
            }
            return;
        case 1: case 5: case 12: return;
        default: return;
    }
}

// ---------------------------------------------------------------------------------------------
// IRC: CR LF lines.

std::size_t Generator::parseIrc(int index, const char* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size) {
        const char* nl = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
        if (!nl) break;
        std::size_t end = static_cast<std::size_t>(nl - data);
        std::size_t len = end - pos;
        if (len && data[end - 1] == '\r') --len;
        onIrcLine(index, data + pos, len);
        pos = end + 1;
    }
    return pos;
}

void Generator::onIrcLine(int index, const char* line, std::size_t n) {
    Client& c = clients_[static_cast<std::size_t>(index)];
    std::string_view l(line, n);
    std::string_view prefix;
    if (!l.empty() && l[0] == ':') {
        std::size_t sp = l.find(' ');
        if (sp == std::string_view::npos) return;
        prefix = l.substr(1, sp - 1);
        l.remove_prefix(sp + 1);
    }
    std::size_t sp = l.find(' ');
    std::string_view command = l.substr(0, sp);
    std::string_view rest = sp == std::string_view::npos ? std::string_view() : l.substr(sp + 1);

    if (command == "PRIVMSG") {
        // target SP :text
        std::size_t colon = rest.find(" :");
        if (colon == std::string_view::npos) fail("client %s: PRIVMSG without text: %.*s", c.name.c_str(), static_cast<int>(n), line);
        std::string_view target = rest.substr(0, colon);
        if (target != o_.channel) fail("client %s: PRIVMSG to %.*s", c.name.c_str(), static_cast<int>(target.size()), target.data());
        std::string_view nick = prefix.substr(0, prefix.find('!'));
        onChatLine(index, nick, rest.substr(colon + 2));
        return;
    }
    if (command == "PING") {
        std::string pong = "PONG ";
        pong += rest;
        pong += "\r\n";
        sendBytes(index, pong.data(), pong.size());
        ++c.pings;
        c.lastPingNs = readNs_;
        ++pingsAnswered_;
        return;
    }
    if (command == "JOIN") {
        std::string_view where = rest;
        if (!where.empty() && where[0] == ':') where.remove_prefix(1);
        if (where == o_.channel) {
            ++c.joins;
            ++joinNotices_;
        }
        return;
    }
    if (command == "001") {
        if (c.state == State::registering) {
            c.state = State::joining;
            std::string join = "JOIN " + o_.channel + "\r\n";
            sendBytes(index, join.data(), join.size());
        }
        return;
    }
    if (command == "366") {
        if (c.state == State::joining) becameReady(index);
        return;
    }
    if (command == "ERROR") fail("client %s: server closes the link: %.*s", c.name.c_str(), static_cast<int>(n), line);
    if (command == "QUIT" || command == "PART" || command == "KICK")
        fail("client %s saw someone leave: %.*s", c.name.c_str(), static_cast<int>(n), line);
    if (command.size() == 3 && (command[0] == '4' || command[0] == '5') && command != "422")
        fail("client %s: error reply: %.*s", c.name.c_str(), static_cast<int>(n), line);
    if (command == "NOTICE" && (sending_ || tail_)) ++notices_;
}

// ---------------------------------------------------------------------------------------------
// Channel lines

void Generator::becameReady(int index) {
    clients_[static_cast<std::size_t>(index)].state = State::ready;
    ++inChannel_;
}

// Text: "m" sssss "-" qqqqqqq "-" then the pad from offset (q % 26) to the line length.
void Generator::onChatLine(int receiver, std::string_view from, std::string_view text) {
    const Client& rc = clients_[static_cast<std::size_t>(receiver)];
    auto bad = [&](const char* why) {
        fail("client %s got a %s chat line from '%.*s': '%.*s'", rc.name.c_str(), why, static_cast<int>(from.size()),
             from.data(), static_cast<int>(std::min<std::size_t>(text.size(), 120)), text.data());
    };
    if (tail_) bad("late (duplicate or stray)");
    if (text.size() != static_cast<std::size_t>(o_.length) || text[0] != 'm' || text[6] != '-' || text[14] != '-')
        bad("malformed");
    std::uint32_t s = 0, q = 0;
    for (int i = 1; i <= 5; ++i) s = s * 10 + static_cast<std::uint32_t>(text[static_cast<std::size_t>(i)] - '0');
    for (int i = 7; i <= 13; ++i) q = q * 10 + static_cast<std::uint32_t>(text[static_cast<std::size_t>(i)] - '0');
    if (s >= senders_.size()) bad("foreign");
    Sender& sd = senders_[s];
    if (q >= sd.nextSeq) bad("never sent");
    if (from != clients_[static_cast<std::size_t>(sd.client)].name) bad("misattributed");
    if (receiver == sd.client) bad("echoed");
    if (std::memcmp(text.data() + 15, pad_.data() + q % 26, text.size() - 15) != 0) bad("corrupted");

    std::uint32_t& expected = expectedSeq_[static_cast<std::size_t>(receiver) * senders_.size() + s];
    if (q < expected) bad("duplicate");
    if (q > expected) {
        char why[96];
        std::snprintf(why, sizeof why, "gap: lines %u..%u of this sender never arrived before", expected, q - 1);
        bad(why);
    }
    ++expected;
    std::size_t key = static_cast<std::size_t>(s) * static_cast<std::size_t>(o_.lines) + q;
    std::uint64_t sent = sendTime_[key];
    latency_.add(readNs_ > sent ? readNs_ - sent : 0);
    ++deliveries_;
    lastDeliveryNs_ = readNs_;
    if (--remaining_[key] == 0) {
        ++linesDone_;
        --sd.inFlight;
        ++sd.done;
    }
}

void Generator::sendLine(int s) {
    Sender& sd = senders_[static_cast<std::size_t>(s)];
    const Client& c = clients_[static_cast<std::size_t>(sd.client)];
    std::uint32_t q = sd.nextSeq;
    char text[512];
    std::snprintf(text, sizeof text, "m%05d-%07u-", s, q);
    std::memcpy(text + 15, pad_.data() + q % 26, static_cast<std::size_t>(o_.length) - 15);
    std::size_t textLen = static_cast<std::size_t>(o_.length);

    char frame[1024];
    std::size_t n = 0;
    if (o_.protocol == Protocol::murmur) {
        std::size_t payload = c.name.size() + 1 + textLen;
        frame[n++] = '\x02';
        n += static_cast<std::size_t>(std::snprintf(frame + n, 16, "%zu", payload)) + 1;  // keeps the NUL
        std::memcpy(frame + n, c.name.data(), c.name.size());
        n += c.name.size();
        frame[n++] = '\0';
    } else {
        n = static_cast<std::size_t>(std::snprintf(frame, 64, "PRIVMSG %s :", o_.channel.c_str()));
    }
    std::memcpy(frame + n, text, textLen);
    n += textLen;
    if (o_.protocol == Protocol::irc) {
        frame[n++] = '\r';
        frame[n++] = '\n';
    }
    std::uint64_t t = nowNs();
    if (!firstSendNs_) firstSendNs_ = t;
    sendTime_[static_cast<std::size_t>(s) * static_cast<std::size_t>(o_.lines) + q] = t;
    ++sd.nextSeq;
    ++sd.inFlight;
    sendBytes(sd.client, frame, n);
}

// ---------------------------------------------------------------------------------------------
// Loop

void Generator::pump(int timeoutMs) {
    static epoll_event events[4096];
    // A server that sends every logon notice to every client at once makes thousands of sockets
    // readable a few bytes at a time; reading each the moment it stirs costs the generator a
    // system call per notice and half the machine. Outside the send phase, where latency is not
    // timed, the notices are left to gather for a moment.
    if (!sending_ && o_.coalesceMs > 0) {
        static std::uint64_t lastPoll = 0;
        std::uint64_t now = nowNs();
        std::uint64_t gap = static_cast<std::uint64_t>(o_.coalesceMs) * 1000000ull;
        if (now - lastPoll < gap) {
            timespec pause{0, static_cast<long>(gap - (now - lastPoll))};
            nanosleep(&pause, nullptr);
        }
        lastPoll = nowNs();
    }
    int n = epoll_wait(epfd_, events, 4096, timeoutMs);
    if (n < 0) {
        if (errno == EINTR) return;
        fail("epoll_wait: %s", std::strerror(errno));
    }
    for (int i = 0; i < n; ++i) {
        int index = static_cast<int>(events[i].data.u32);
        Client& c = clients_[static_cast<std::size_t>(index)];
        std::uint32_t ev = events[i].events;
        if (c.state == State::connecting) {
            if (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) onConnected(index);
            continue;
        }
        if (ev & EPOLLIN) readFrom(index);
        if (ev & EPOLLOUT) flushOut(index);
        if (ev & (EPOLLERR | EPOLLHUP)) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            lost(index, err ? std::strerror(err) : "hang-up");
        }
        if ((ev & EPOLLRDHUP) && !(ev & EPOLLIN)) lost(index, "the server shut its side");
    }
    if (sending_) {
        for (std::size_t s = 0; s < senders_.size(); ++s) {
            Sender& sd = senders_[s];
            while (sd.inFlight < static_cast<std::uint32_t>(o_.window) && sd.nextSeq < static_cast<std::uint32_t>(o_.lines))
                sendLine(static_cast<int>(s));
        }
    }
}

int Generator::run() {
    startNs_ = nowNs();
    deadlineNs_ = startNs_ + static_cast<std::uint64_t>(o_.timeout * 1e9);
    lastProgressNs_ = startNs_;
    ProcFigures atStart = readProc(o_.serverPid);
    if (o_.serverPid > 0 && !atStart.valid) fail("server pid %d is not running", o_.serverPid);
    double genCpuStart = selfCpuSeconds();
    double machineStart = machineBusySeconds();

    // --- logon
    gPhase = "logon";
    while (inChannel_ < o_.clients) {
        std::uint64_t now = nowNs();
        while (started_ < o_.clients && started_ - inChannel_ < o_.connectBatch) {
            if (o_.connectRate > 0 && started_ >= static_cast<int>(seconds(now - startNs_) * o_.connectRate) + 1) break;
            startConnection(started_++);
        }
        pump(o_.connectRate > 0 ? 2 : 50);
        checkDeadline();
        progress("logon");
    }
    std::uint64_t logonDoneNs = nowNs();
    ProcFigures atLogon = readProc(o_.serverPid);

    // --- every join notice delivered: the logon storm is over before anything is timed
    gPhase = "settle";
    std::uint64_t n = static_cast<std::uint64_t>(o_.clients);
    std::uint64_t expectedJoins = o_.protocol == Protocol::murmur ? n * (n - 1) / 2 : n * (n + 1) / 2;
    std::uint64_t settleLimit = nowNs() + static_cast<std::uint64_t>(o_.settleTimeout * 1e9);
    while (joinNotices_ < expectedJoins) {
        pump(50);
        checkDeadline();
        progress("settle");
        if (nowNs() > settleLimit)
            fail("only %llu of %llu join notices arrived within %.0f s", static_cast<unsigned long long>(joinNotices_),
                 static_cast<unsigned long long>(expectedJoins), o_.settleTimeout);
    }
    if (joinNotices_ > expectedJoins)
        fail("%llu join notices arrived, %llu expected", static_cast<unsigned long long>(joinNotices_),
             static_cast<unsigned long long>(expectedJoins));
    std::uint64_t settledNs = nowNs();
    ProcFigures atSettled = readProc(o_.serverPid);

    // --- idle and hold: keep-alives only
    auto quietPhase = [&](const char* name, double length, double& cpuOut, double& wallOut, std::uint64_t& pingsOut) {
        gPhase = name;
        ProcFigures a = readProc(o_.serverPid);
        std::uint64_t t0 = nowNs();
        std::uint64_t p0 = pingsAnswered_;
        std::uint64_t end = t0 + static_cast<std::uint64_t>(length * 1e9);
        while (nowNs() < end) {
            pump(50);
            checkDeadline();
            progress(name);
        }
        ProcFigures b = readProc(o_.serverPid);
        wallOut = seconds(nowNs() - t0);
        cpuOut = b.cpuSeconds - a.cpuSeconds;
        pingsOut = pingsAnswered_ - p0;
    };
    double idleCpu = 0, idleWall = 0, holdCpu = 0, holdWall = 0;
    std::uint64_t idlePings = 0, holdPings = 0;
    if (o_.idle > 0) quietPhase("idle", o_.idle, idleCpu, idleWall, idlePings);
    if (o_.hold > 0) quietPhase("hold", o_.hold, holdCpu, holdWall, holdPings);
    ProcFigures beforeSend = readProc(o_.serverPid);

    // --- send
    double genCpuSendStart = selfCpuSeconds();
    if (!senders_.empty() && o_.lines > 0) {
        gPhase = "send";
        sending_ = true;
        while (linesDone_ < sendTime_.size()) {
            pump(20);
            checkDeadline();
            progress("send");
        }
        sending_ = false;
        // Anything for the channel that comes now is one too many.
        gPhase = "tail";
        tail_ = true;
        std::uint64_t end = nowNs() + 300000000ull;
        while (nowNs() < end) pump(20);
        tail_ = false;
    }
    double genCpuSend = selfCpuSeconds() - genCpuSendStart;
    ProcFigures atEnd = readProc(o_.serverPid);
    if (o_.serverPid > 0 && !atEnd.valid) fail("the server process %d is gone", o_.serverPid);
    bool proc = atEnd.valid;

    if (!logoffNotice_.empty()) fail("%s", logoffNotice_.c_str());
    std::uint64_t expectedDeliveries = static_cast<std::uint64_t>(sendTime_.size()) * (n - 1);
    if (deliveries_ != expectedDeliveries)
        fail("%llu deliveries, %llu expected", static_cast<unsigned long long>(deliveries_),
             static_cast<unsigned long long>(expectedDeliveries));

    double genCpu = selfCpuSeconds() - genCpuStart;
    double wall = seconds(nowNs() - startNs_);
    double others = machineBusySeconds() - machineStart - genCpu - (proc ? atEnd.cpuSeconds - atStart.cpuSeconds : 0);
    double sendWall = deliveries_ ? seconds(lastDeliveryNs_ - firstSendNs_) : 0;
    double us = 1e3;
    auto num = [](double v, const char* fmt = "%.6g") {
        char b[64];
        std::snprintf(b, sizeof b, fmt, v);
        return std::string(b);
    };
    auto orNull = [&](bool have, double v, const char* fmt = "%.6g") { return have ? num(v, fmt) : std::string("null"); };
    bool sent = deliveries_ > 0;
    double quietWall = idleWall + holdWall;
    std::printf(
        "{\"ok\":true,\"protocol\":\"%s\",\"clients\":%d,\"senders\":%d,\"lines\":%d,\"length\":%d,\"window\":%d,"
        "\"connect_batch\":%d,"
        "\"logon_s\":%s,\"notices_s\":%s,\"rss_start_kb\":%s,\"rss_logon_kb\":%s,\"rss_settled_kb\":%s,"
        "\"idle_s\":%s,\"idle_cpu_s\":%s,\"hold_s\":%s,\"hold_cpu_s\":%s,\"idle_cpu\":%s,\"keepalives\":%llu,"
        "\"deliveries\":%llu,\"send_s\":%s,\"deliv_per_s\":%s,\"lat_p50_us\":%s,\"lat_p99_us\":%s,\"lat_max_us\":%s,"
        "\"send_cpu_s\":%s,\"rss_end_kb\":%s,\"rss_peak_kb\":%s,\"cpu_total_s\":%s,\"cpu_logon_s\":%s,"
        "\"server_threads\":%s,\"gen_cpu_s\":%s,\"gen_send_cpu_s\":%s,\"wall_s\":%s,\"others_cpu_s\":%s,"
        "\"others_cores\":%s,\"bytes_in\":%llu,\"reads\":%llu,\"bytes_out\":%llu}\n",
        gProtocolName.c_str(), o_.clients, o_.senders, o_.lines, o_.length, o_.window, o_.connectBatch,
        num(seconds(logonDoneNs - startNs_), "%.3f").c_str(), num(seconds(settledNs - startNs_), "%.3f").c_str(),
        orNull(proc, static_cast<double>(atStart.rssKb), "%.0f").c_str(),
        orNull(proc, static_cast<double>(atLogon.rssKb), "%.0f").c_str(),
        orNull(proc, static_cast<double>(atSettled.rssKb), "%.0f").c_str(), num(idleWall, "%.2f").c_str(),
        orNull(proc && o_.idle > 0, idleCpu, "%.2f").c_str(), num(holdWall, "%.2f").c_str(),
        orNull(proc && o_.hold > 0, holdCpu, "%.2f").c_str(),
        orNull(proc && quietWall > 0, (idleCpu + holdCpu) / (quietWall > 0 ? quietWall : 1), "%.4f").c_str(),
        static_cast<unsigned long long>(idlePings + holdPings), static_cast<unsigned long long>(deliveries_),
        orNull(sent, sendWall, "%.3f").c_str(), orNull(sent && sendWall > 0, static_cast<double>(deliveries_) / sendWall, "%.0f").c_str(),
        orNull(sent, static_cast<double>(latency_.percentile(0.50)) / us, "%.0f").c_str(),
        orNull(sent, static_cast<double>(latency_.percentile(0.99)) / us, "%.0f").c_str(),
        orNull(sent, static_cast<double>(latency_.max()) / us, "%.0f").c_str(),
        orNull(proc && sent, atEnd.cpuSeconds - beforeSend.cpuSeconds, "%.2f").c_str(),
        orNull(proc, static_cast<double>(atEnd.rssKb), "%.0f").c_str(),
        orNull(proc, static_cast<double>(atEnd.hwmKb), "%.0f").c_str(),
        orNull(proc, atEnd.cpuSeconds, "%.2f").c_str(),
        orNull(proc, atSettled.cpuSeconds - atStart.cpuSeconds, "%.2f").c_str(),
        orNull(proc, atEnd.threads, "%.0f").c_str(), num(genCpu, "%.2f").c_str(),
        num(genCpuSend, "%.2f").c_str(), num(wall, "%.2f").c_str(), num(others > 0 ? others : 0, "%.2f").c_str(),
        num(wall > 0 && others > 0 ? others / wall : 0, "%.2f").c_str(), static_cast<unsigned long long>(bytesIn_),
        static_cast<unsigned long long>(reads_), static_cast<unsigned long long>(bytesOut_));
    std::fflush(stdout);
    (void)us;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parseOptions(argc, argv);
    gProtocolName = o.protocol == Protocol::murmur ? "murmur" : "irc";
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < static_cast<rlim_t>(o.clients) + 64) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, static_cast<rlim_t>(o.clients) + 64);
        setrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur < static_cast<rlim_t>(o.clients) + 16)
            fail("open file limit %llu is too low for %d clients", static_cast<unsigned long long>(limit.rlim_cur), o.clients);
    }
    Generator generator(o);
    return generator.run();
}
