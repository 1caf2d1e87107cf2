#include "guard/Counting.h"

#include <limits>

namespace murmur {
namespace {

void countUp(OrderedMap<ConnectionNumber, std::int16_t>& table, ConnectionNumber connection) {
    std::int16_t* count = table.find(connection);
    if (!count) {
        table.put(connection, 1);
    } else if (*count < std::numeric_limits<std::int16_t>::max()) {
        ++*count;
    }
}

}  // namespace

void countChatLine(Server& server, ConnectionNumber connection) {
    countUp(server.spamCounts, connection);
    server.tmrHandleJunk->setEnabled(true);
}

void countLogon(Server& server, ConnectionNumber connection) {
    countUp(server.logonCounts, connection);
    if (server.settings.loadControl == "Y") server.tmrLoad->setEnabled(true);
}

}  // namespace murmur
