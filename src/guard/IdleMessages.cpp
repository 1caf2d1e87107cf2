// Rotating announcements to every connected client, every IdleTime minutes.
#include <cmath>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Packets.h"
#include "guard/Guard.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

constexpr const char* kIdleSystemName = "Server Idle System";
constexpr const char* kNobody = "%EMPTY%";

// An index in 0..highest drawn from [0, 1), rounded half to even as it always was; the first and
// last entries are therefore half as likely as the others.
std::size_t pick(Server& server, std::size_t highest) {
    double r = server.host.random().next();
    auto index = static_cast<std::size_t>(std::nearbyint(r * static_cast<double>(highest)));
    return index > highest ? highest : index;
}

void replaceAll(std::string& text, std::string_view what, std::string_view with) {
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
}

bool anyoneConnected(const Server& server) {
    for (int i = 0; i < socketCount(server); ++i)
        if (isConnected(server, i)) return true;
    return false;
}

}  // namespace

std::string randomUserName(Server& server) {
    std::string names;
    for (const auto& [number, record] : server.users) names += record.originalName + ", ";
    if (names.size() <= 2) return kNobody;
    names.resize(names.size() - 2);
    std::vector<std::string> pieces = textfile::split(names, ", ");
    return pieces[pick(server, pieces.size() - 1)];
}

void idleTick(Server& server) {
    // Nobody to hear it: the rotation waits, and goes on when somebody connects again.
    if (!anyoneConnected(server)) return;
    const std::vector<std::string>& rotation = server.idleMessages;
    bool anyMessage = false;
    for (const auto& message : rotation) anyMessage = anyMessage || !message.empty();
    if (!anyMessage || server.settings.idleTime <= 0) return;
    if (server.idleMinutes < server.settings.idleTime - 1) {
        ++server.idleMinutes;
        return;
    }

    std::string message;
    while (message.empty()) message = rotation[pick(server, rotation.size() - 1)];
    replaceAll(message, "%v", server.titleText);
    replaceAll(message, "%rnd", randomUserName(server));

    addChat(server, {{colour::cyan, std::string("<") + kIdleSystemName + "> "}, {colour::white, message}});
    sendToAllConnected(server, out::pktChat, joinFields({kIdleSystemName, message}));
    server.idleMinutes = 0;
}

void attachGuardTimers(Server& server) {
    server.tmrKeepAlive->setInterval(keepAlivePeriod);
    server.tmrKeepAlive->setTick([&server] { keepAliveTick(server); });
    server.tmrKillClients->setInterval(reapingPeriod);
    server.tmrKillClients->setTick([&server] { reapingTick(server); });
    server.tmrHandleJunk->setTick([&server] { spamTick(server); });
    server.tmrLoad->setTick([&server] { loadTick(server); });
    server.tmrIdle->setInterval(idlePeriod);
    server.tmrIdle->setTick([&server] { idleTick(server); });
}

}  // namespace murmur
