#include "guard/Counting.h"

#include <limits>

namespace murmur {
namespace {

std::int16_t countUp(OrderedMap<ConnectionNumber, std::int16_t>& table, ConnectionNumber connection) {
    std::int16_t* count = table.find(connection);
    if (!count) return table.put(connection, 1);
    if (*count < std::numeric_limits<std::int16_t>::max()) ++*count;
    return *count;
}

}  // namespace

std::int16_t countChatLine(Server& server, ConnectionNumber connection) {
    std::int16_t count = countUp(server.spamCounts, connection);
    server.tmrHandleJunk->setEnabled(true);
    return count;
}

void countLogon(Server& server, ConnectionNumber connection) {
    countUp(server.logonCounts, connection);
    if (server.settings.loadControl == "Y") server.tmrLoad->setEnabled(true);
}

}  // namespace murmur
