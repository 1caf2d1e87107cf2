// Start-up and shutdown of the real program: what it announces, what it makes of MMConf.ini and
// writes back, the addresses it listens on, a port held by someone else, and the chat log.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "support/E2e.h"

namespace murmur::test {
namespace {

const std::string kOverflow = "Error #6: Overflow in Form_Load()";

using Startup = E2e;

TEST_F(Startup, AnnouncesItselfListensAsTheProtocolSaysAndWritesAllThirteenKeysBack) {
    // No protocol is 0, every address; any other is saved as 1, loopback only. All of 127/8
    // reaches this machine, so 127.0.0.2 tells the one from the other.
    for (auto [ini, protocol] : {std::pair{"", 0}, std::pair{"Protocol=7\r\n", 1}}) {
        SCOPED_TRACE(ini);
        port = freePort();
        start(ini);
        EXPECT_EQ(server->nextText(), "Murmur Server 1.2.0, data in " + dir.path());
        EXPECT_EQ(server->nextText(), listening(port));
        if (protocol != 0) {
            EXPECT_EQ(server->nextText(), "Only clients on this machine can connect (Protocol is not 0).");
        }
        expectServes(port);
        bool reached = true;
        try { WireClient(port, 0, "127.0.0.2"); } catch (const std::runtime_error&) { reached = false; }
        EXPECT_EQ(reached, protocol == 0);
        WireClient bob(port);
        logOn(bob, "bob");
        EXPECT_EQ(server->terminate(), 0);
        EXPECT_TRUE(server->waitForText("Shutting down: 1 users disconnected, settings saved to MMConf.ini."));
        EXPECT_EQ(dir.read("MMConf.ini"), allKeys(port, protocol));
    }
}

// The reading stops at a port beyond 16 bits: nothing is listened on, and the settings not read
// keep their lines at shutdown.
TEST_F(Startup, PortOverflowIsReportedAndTheFileKept) {
    dir.write("MMConf.ini", "[Server]\r\nPort=99999\r\n");
    server = std::make_unique<ServerProcess>(dir.path());
    server->nextText();
    EXPECT_EQ(server->nextText(), kOverflow);
    EXPECT_EQ(server->terminate(), 0);
    EXPECT_EQ(server->output().find("Listening"), std::string::npos) << server->output();
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=99999\r\nProtocol=0\r\n");
}

// The spam window is read after the port: the error is reported, but the server serves.
TEST_F(Startup, SpamWindowOverflowIsReportedAfterThePortIsTaken) {
    start("[Spam Control]\r\nSecondsToCheck=40\r\n");
    server->nextText();
    EXPECT_EQ(server->nextText(), kOverflow);
    EXPECT_EQ(server->nextText(), listening(port));
    expectServes(port);
}

TEST_F(Startup, OperatorLinesGoToTheDatedLogFileWhenAskedFor) {
    auto logFile = [](std::time_t when) {
        char name[48];
        std::strftime(name, sizeof name, "logs/chat-%Y-%m-%d.txt", std::localtime(&when));
        return std::string(name);
    };
    std::time_t started = std::time(nullptr);
    run("[Settings]\r\nWriteLogToFile=Y\r\n");
    // The run may have begun just before midnight.
    std::string name = dir.exists(logFile(std::time(nullptr))) ? logFile(std::time(nullptr)) : logFile(started);
    EXPECT_EQ(dir.read(name), server->output());
}

// Environment variables for the programs a test starts, put back as they were at the end.
class Environment {
public:
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            it->second ? (void)::setenv(it->first.c_str(), it->second->c_str(), 1) : (void)::unsetenv(it->first.c_str());
    }
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? (void)::setenv(name, value, 1) : (void)::unsetenv(name);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Qt would end the program on a display it cannot open; the server runs headless instead.
TEST_F(Startup, ADisplayThatCannotBeOpenedMeansHeadless) {
    Environment environment;
    environment.set("DISPLAY", ":97");
    environment.set("WAYLAND_DISPLAY", nullptr);
    environment.set("QT_QPA_PLATFORM", nullptr);
    writeConfig(dir, port);
    server = std::make_unique<ServerProcess>(ServerProcess::ExactArguments{}, std::vector<std::string>{"--dir", dir.path()});
    EXPECT_TRUE(server->waitForText(listening(port)));
    expectServes(port);
    EXPECT_EQ(server->terminate(), 0);
    EXPECT_EQ(server->errors(), "murmur-server: running headless: the display :97 cannot be opened.\n");
}

class PortInUse : public E2e {
protected:
    // Someone else listens on every address of the port; the operator is asked for another.
    void SetUp() override {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(static_cast<std::uint16_t>(port));
        ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
        ASSERT_EQ(::listen(holder, 4), 0);
        start();
        server->nextText();
        EXPECT_EQ(server->nextText(),
                  "The current port is already being used. Please select an alternate one to listen on.");
        // Not listening, and not saying so.
        EXPECT_EQ(server->nextText(), "The port " + std::to_string(port) +
                                          " is already in use. Please select an alternate port to listen on.");
    }
    ~PortInUse() override { ::close(holder); }

    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
};

TEST_F(PortInUse, TheConsolesAlternateIsServedAndTheFileLeftAsItWas) {
    const std::string before = dir.read("MMConf.ini");
    server->sendConsole("abc");
    EXPECT_EQ(server->nextText(), "Enter a numeric value.");
    int alternate = freePort();
    server->sendConsole(std::to_string(alternate));
    for (const std::string& text : {"Since an alternate port has been used, your new settings will not be saved."s,
                                    "Port cannot be bound, already in use."s, "Opening a new port..."s,
                                    listening(alternate)})
        EXPECT_EQ(server->nextText(), text);
    expectServes(alternate);
    EXPECT_EQ(server->terminate(), 0);
    EXPECT_TRUE(server->waitForText("Shutting down: 0 users disconnected, settings not saved: an alternate port is in use."));
    EXPECT_EQ(dir.read("MMConf.ini"), before);
    EXPECT_EQ(server->output().find(listening(port)), std::string::npos);
}

// With no console left to answer, the server cannot go on.
TEST_F(PortInUse, EndOfInputWhileAskedEndsWithFailure) {
    server->closeStdin();
    auto status = server->waitForExit();
    ASSERT_TRUE(status);
    EXPECT_NE(*status, 0);
    EXPECT_FALSE(dir.exists("murmur.sock"));  // the control socket goes with it
}

}  // namespace
}  // namespace murmur::test
