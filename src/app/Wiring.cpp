#include "app/Wiring.h"

#include "guard/Guard.h"
#include "protocol/Dispatch.h"
#include "staff/Console.h"

namespace murmur {

void wireHandlers(Server& server) {
    server.packetHandler = [&server](std::uint8_t id, ConnectionNumber connection, std::string_view payload) {
        dispatchPacket(server, id, connection, payload);
    };
    server.consoleHandler = [&server](const std::string& text) { consoleEntry(server, text); };
    attachGuardTimers(server);
}

}  // namespace murmur
