// Start-up and shutdown of the real program: what it announces, what it makes of MMConf.ini and
// what it writes back.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

// MMConf.ini after a run that knew every setting, with the defaults for all but port and protocol.
std::string allThirteenKeys(int port, int protocol) {
    return "[Server]\r\nPort=" + std::to_string(port) + "\r\nProtocol=" + std::to_string(protocol) +
           "\r\n"
           "[Settings]\r\nAuthentication=N\r\nIdleSystem=N\r\nWriteLogToFile=N\r\n"
           "[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n"
           "[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=3\r\nEnabled=Y\r\n"
           "[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n";
}

std::string loggedOut(int connection) {
    return "Connection #" + std::to_string(connection) + " (from 127.0.0.1) has logged out of Murmur.";
}

// A client on the port is taken in by the server: its leaving is reported on the console.
::testing::AssertionResult serves(ServerProcess& server, int port) {
    try {
        WireClient client(port);
        client.close();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << e.what();
    }
    if (!server.waitForText(loggedOut(1)))
        return ::testing::AssertionFailure() << "the server did not report the client\n" << server.transcript();
    return ::testing::AssertionSuccess();
}

// One attempt, no retry: 0 when the connection was made, the error otherwise. All of 127/8 reaches
// this machine, so 127.0.0.2 tells a listener on every address from one on 127.0.0.1 alone.
int connectOnce(const char* address, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &to.sin_addr);
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    int result = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

class Startup : public ::testing::Test {
protected:
    TempDir dir;
    int port = freePort();
};

TEST_F(Startup, FirstLineAnnouncesTheConfiguredPort) {
    writeConfig(dir, port);
    ServerProcess server(dir.path());
    auto first = server.nextLine();
    ASSERT_TRUE(first) << server.transcript();
    EXPECT_TRUE(hasTimestamp(*first)) << *first;
    EXPECT_EQ(textAfterTimestamp(first), "Listening on port " + std::to_string(port) + "...");
    EXPECT_TRUE(serves(server, port));
    EXPECT_EQ(connectOnce("127.0.0.2", port), 0) << "protocol 0 listens on every address";
    EXPECT_EQ(server.terminate(), 0) << server.transcript();
}

TEST_F(Startup, WritesAllThirteenKeysBack) {
    writeConfig(dir, port);
    ServerProcess server(dir.path());
    ASSERT_TRUE(server.waitForLine("Listening on port")) << server.transcript();
    EXPECT_EQ(server.terminate(), 0) << server.transcript();
    EXPECT_EQ(dir.read("MMConf.ini"), allThirteenKeys(port, 0));
}

TEST_F(Startup, AnyOtherProtocolIsSavedAsOneAndServesLoopbackOnly) {
    writeConfig(dir, port, "Protocol=7\r\n");
    ServerProcess server(dir.path());
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Listening on port " + std::to_string(port) + "...")
        << server.transcript();
    EXPECT_TRUE(serves(server, port));
    EXPECT_EQ(connectOnce("127.0.0.2", port), ECONNREFUSED);
    EXPECT_EQ(server.terminate(), 0) << server.transcript();
    EXPECT_EQ(dir.read("MMConf.ini"), allThirteenKeys(port, 1));
}

// The port does not fit 16 bits: the reading stops there, nothing is listened on, and the settings
// not read keep their lines untouched at shutdown.
TEST_F(Startup, PortBeyondSixteenBitsIsReportedAndKeptInTheFile) {
    dir.write("MMConf.ini", "[Server]\r\nPort=99999\r\n");
    ServerProcess server(dir.path());
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Error #6: Overflow in Form_Load()") << server.transcript();
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Listening on port 0...") << server.transcript();
    EXPECT_TRUE(server.running()) << server.transcript();
    EXPECT_EQ(server.terminate(), 0) << server.transcript();
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=99999\r\nProtocol=0\r\n");
}

// The spam window is read after the port: the error is reported, but the server already listens.
TEST_F(Startup, SpamWindowBeyondSixteenBitsIsReportedButTheServerServes) {
    writeConfig(dir, port, "[Spam Control]\r\nSecondsToCheck=40\r\n");
    ServerProcess server(dir.path());
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Error #6: Overflow in Form_Load()") << server.transcript();
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Listening on port " + std::to_string(port) + "...")
        << server.transcript();
    EXPECT_TRUE(serves(server, port));
    EXPECT_EQ(server.terminate(), 0) << server.transcript();
}

// Someone else listening on every local address of a port.
class PortHolder {
public:
    explicit PortHolder(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 4) != 0)
            throw std::runtime_error("cannot hold port " + std::to_string(port) + ": " + std::strerror(errno));
    }
    ~PortHolder() { ::close(fd_); }

private:
    int fd_ = -1;
};

class PortInUse : public ::testing::Test {
protected:
    // The question for the configured port, as start-up asks it.
    void expectQuestion(ServerProcess& server) {
        const std::string p = std::to_string(port);
        EXPECT_EQ(textAfterTimestamp(server.nextLine()),
                  "The current port is already being used. Please select an alternate one to listen on.")
            << server.transcript();
        EXPECT_EQ(textAfterTimestamp(server.nextLine()),
                  "The port " + p + " is already in use. Please select an alternate port to listen on.")
            << server.transcript();
        EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Listening on port " + p + "...") << server.transcript();
    }

    TempDir dir;
    int port = freePort();
    PortHolder holder{port};
};

TEST_F(PortInUse, AlternatePortFromTheConsoleIsServedButNotSaved) {
    writeConfig(dir, port);
    const std::string before = dir.read("MMConf.ini");
    ServerProcess server(dir.path());
    expectQuestion(server);

    server.sendConsole("abc");
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Enter a numeric value.") << server.transcript();

    int alternate = freePort();
    server.sendConsole(std::to_string(alternate));
    for (const std::string text : {"Since an alternate port has been used, your new settings will not be saved.",
                                   "Port cannot be bound, already in use.", "Opening a new port..."})
        EXPECT_EQ(textAfterTimestamp(server.nextLine()), text) << server.transcript();
    EXPECT_EQ(textAfterTimestamp(server.nextLine()), "Listening on port " + std::to_string(alternate) + "...")
        << server.transcript();
    EXPECT_TRUE(serves(server, alternate));

    EXPECT_EQ(server.terminate(), 0) << server.transcript();
    EXPECT_EQ(dir.read("MMConf.ini"), before);
}

// With no console left to answer, the server cannot go on.
TEST_F(PortInUse, EndOfInputWhileAskedEndsTheServerWithFailure) {
    writeConfig(dir, port);
    ServerProcess server(dir.path());
    expectQuestion(server);
    server.closeStdin();
    auto status = server.waitForExit();
    ASSERT_TRUE(status) << "still running\n" << server.transcript();
    EXPECT_NE(*status, 0);
}

std::string logFileName(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char name[48];
    std::strftime(name, sizeof name, "logs/chat-%Y-%m-%d.txt", &local);
    return name;
}

TEST(ChatLog, OperatorLinesGoToTheDatedFileWhenAskedFor) {
    TempDir dir;
    int port = freePort();
    writeConfig(dir, port, "[Settings]\r\nWriteLogToFile=Y\r\n");
    std::time_t started = std::time(nullptr);
    ServerProcess server(dir.path());
    auto line = server.nextLine();
    ASSERT_TRUE(line) << server.transcript();
    EXPECT_EQ(textAfterTimestamp(line), "Listening on port " + std::to_string(port) + "...");

    // The run may have begun just before midnight.
    std::string name = logFileName(std::time(nullptr));
    if (!dir.exists(name)) name = logFileName(started);
    EXPECT_EQ(dir.read(name), *line + "\n");
    EXPECT_EQ(server.terminate(), 0) << server.transcript();
}

}  // namespace
}  // namespace murmur::test
