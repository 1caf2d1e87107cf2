// A fresh server over FakeHost in a temporary data directory, for each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/Server.h"
#include "support/FakeHost.h"
#include "support/Wire.h"

namespace murmur::test {

// A directory under /tmp that is removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;  // empty when missing
    bool exists(const std::string& name) const;

private:
    std::string path_;
};

// A password whose stored form is the text, found a character at a time.
std::string passwordFor(const std::string& stored);

class ServerTest : public ::testing::Test {
protected:
    ServerTest();
    ~ServerTest() override;

    // Runs start-up; files meant for it are written to dir before.
    void start();

    // A client connects; returns its connection number.
    int connect(const std::string& address = "10.0.0.1");
    // The roster file with the names, each given an account in users.txt whose password logOn
    // sends: staff rank needs it.
    void writeStaff(const std::string& roster, const std::vector<std::string>& names);
    static constexpr const char* staffPassword = "pw";
    // A client connects and logs on with the name; what that caused is forgotten.
    int logOn(const std::string& name, const std::string& product = "1", const std::string& address = "10.0.0.1");
    // Drops everything sent so far and every chat-view line not yet looked at.
    void forgetTraffic();
    FakeSocket& socket(int connection);
    // The server closes the socket and keeps the record, as a refusal does: no close event follows.
    void closeKeepingRecord(int connection);
    void deliver(int connection, const std::string& bytes);
    // Packets sent to the connection since the last call for it.
    std::vector<Packet> received(int connection);

    // Texts of the chat-view lines since the last call, timestamps left out.
    std::vector<std::string> chatLines();
    // The last chat-view line with its pieces, timestamp included.
    const ChatLine& lastLine() const;

    FakeTimer& timer(std::unique_ptr<Timer>& member);

    TempDir dir;
    FakeHost host;
    std::unique_ptr<Server> server;

private:
    std::size_t linesSeen_ = 0;
    std::set<std::string> staffNames_;  // lower-cased
};

}  // namespace murmur::test
