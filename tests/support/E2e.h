// What the end-to-end tests share: a data directory, the program serving it on a port of its own,
// and clients logging on.
#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {

using Packets = std::vector<Packet>;
using namespace std::string_literals;

// What a user without rank is sent on logging on: the welcome and the join of Main.
inline const Packets kWelcome{packet(5, {"Murmur Server v1.2 by Halden", "normal"}), packet(13, {"Main", "success"})};

inline std::string logonFrame(const std::string& name, const std::string& password = "") {
    return frame(1, fields({name, password, "1"}));
}
// MMConf.ini: "[Server]", "Port=<port>" with CR LF line ends, then the extra text as given.
inline void writeConfig(const TempDir& dir, int port, const std::string& extra = "") {
    dir.write("MMConf.ini", "[Server]\r\nPort=" + std::to_string(port) + "\r\n" + extra);
}
inline std::string listening(int port) { return "Listening on port " + std::to_string(port) + "..."; }
// MMConf.ini written back by a run that knew every setting: the defaults but for port and protocol.
inline std::string allKeys(int port, int protocol = 0) {
    return "[Server]\r\nPort=" + std::to_string(port) + "\r\nProtocol=" + std::to_string(protocol) +
           "\r\n[Settings]\r\nAuthentication=N\r\nIdleSystem=N\r\nWriteLogToFile=N\r\n"
           "[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n"
           "[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=3\r\nEnabled=Y\r\n"
           "[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n";
}
inline std::string loggedOut(int connection) {
    return "Connection #" + std::to_string(connection) + " (from 127.0.0.1) has logged out of Murmur.";
}

class E2e : public ::testing::Test {
protected:
    // MMConf.ini with the port and the extra text, then the program with the options.
    void start(const std::string& ini = "", const std::vector<std::string>& options = {}) {
        writeConfig(dir, port, ini);
        server = std::make_unique<ServerProcess>(dir.path(), options);
    }
    // Started and listening.
    void run(const std::string& ini = "", const std::vector<std::string>& options = {}) {
        start(ini, options);
        ASSERT_TRUE(server->waitForText(listening(port)));
    }
    // The packets the client is sent on logging on.
    Packets logOn(WireClient& client, const std::string& name, const std::string& password = "") {
        client.send(logonFrame(name, password));
        return client.takePackets(2);
    }
    // A client comes and goes; the operator is told.
    void expectServes(int onPort) {
        WireClient{onPort};
        EXPECT_TRUE(server->waitForText(loggedOut(1)));
    }
    void TearDown() override {
        if (server && server->running()) {
            EXPECT_EQ(server->terminate(), 0);
        }
        if (server && HasFailure()) std::cout << server->transcript();
    }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
};

}  // namespace murmur::test
