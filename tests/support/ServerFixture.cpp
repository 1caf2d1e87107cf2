#include "support/ServerFixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Wiring.h"
#include "core/Connections.h"
#include "core/Lifecycle.h"
#include "host/CodePage.h"
#include "staff/Accounts.h"

namespace murmur::test {

TempDir::TempDir() {
    char pattern[] = "/tmp/murmur-test-XXXXXX";
    char* made = ::mkdtemp(pattern);
    if (!made) throw std::runtime_error("cannot make a temporary directory");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

// The stored form of a prefix is a prefix of the stored form, so each character is found by
// trying every byte in its place.
std::string passwordFor(const std::string& stored) {
    std::string password;
    for (char wanted : stored)
        for (int c = 1; c < 256; ++c)
            if (hashPassword(password + static_cast<char>(c)) == hashPassword(password) + wanted) {
                password += static_cast<char>(c);
                break;
            }
    EXPECT_EQ(hashPassword(password), stored);
    return password;
}

ServerTest::ServerTest() : server(std::make_unique<Server>(host, dir.path())) { wireHandlers(*server); }
ServerTest::~ServerTest() { server.reset(); }

void ServerTest::start() { startUp(*server); }

int ServerTest::connect(const std::string& address) {
    FakeSocket* socket = host.connect(address);
    if (!socket) throw std::runtime_error("nothing accepted the connection");
    for (int i = 0; i < socketCount(*server); ++i)
        if (server->sckRecv[static_cast<std::size_t>(i)].socket.get() == socket) {
            socket->takeSent();
            return i;
        }
    throw std::runtime_error("the accepting socket is not in the array");
}

void ServerTest::writeStaff(const std::string& roster, const std::vector<std::string>& names) {
    std::string lines, accounts = dir.read("users.txt");
    for (const auto& name : names) {
        lines += name + "\r\n";
        accounts += name + ":" + hashPassword(staffPassword) + "\r\n";
        staffNames_.insert(codepage::toLower(name));
    }
    dir.write(roster, lines);
    dir.write("users.txt", accounts);
}

int ServerTest::logOn(const std::string& name, const std::string& product, const std::string& address) {
    int c = connect(address);
    std::string password = staffNames_.count(codepage::toLower(name)) ? staffPassword : "";
    deliver(c, frame(1, fields({name, password, product})));
    const clsUserData* record = server->users.find(static_cast<ConnectionNumber>(c));
    EXPECT_TRUE(record && record->hasLoggedIn) << name << " did not log on";
    forgetTraffic();
    return c;
}

void ServerTest::forgetTraffic() {
    for (int i = 0; i < socketCount(*server); ++i) socket(i).takeSent();
    chatLines();
}

FakeSocket& ServerTest::socket(int connection) {
    return static_cast<FakeSocket&>(*server->sckRecv.at(static_cast<std::size_t>(connection)).socket);
}

void ServerTest::closeKeepingRecord(int connection) {
    endConnection(*server, static_cast<ConnectionNumber>(connection), {.keepRecord = true});
}

void ServerTest::deliver(int connection, const std::string& bytes) { socket(connection).deliver(bytes); }

std::vector<Packet> ServerTest::received(int connection) { return decode(socket(connection).takeSent()); }

std::vector<std::string> ServerTest::chatLines() {
    std::vector<std::string> out;
    const auto& lines = server->rtbChat.lines();
    for (std::size_t i = linesSeen_; i < lines.size(); ++i) {
        std::string text;
        for (std::size_t p = 1; p < lines[i].pieces.size(); ++p) text += lines[i].pieces[p].text;
        out.push_back(text);
    }
    linesSeen_ = lines.size();
    return out;
}

const ChatLine& ServerTest::lastLine() const { return server->rtbChat.lines().back(); }

FakeTimer& ServerTest::timer(std::unique_ptr<Timer>& member) { return static_cast<FakeTimer&>(*member); }

}  // namespace murmur::test
