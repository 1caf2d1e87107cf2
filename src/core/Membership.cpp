#include "core/Membership.h"

#include <algorithm>

#include "host/CodePage.h"

namespace murmur {
namespace {

const std::vector<ConnectionNumber> kNobody;

void insertSorted(std::vector<ConnectionNumber>& numbers, ConnectionNumber number) {
    auto at = std::lower_bound(numbers.begin(), numbers.end(), number);
    if (at == numbers.end() || *at != number) numbers.insert(at, number);
}

void eraseSorted(std::vector<ConnectionNumber>& numbers, ConnectionNumber number) {
    auto at = std::lower_bound(numbers.begin(), numbers.end(), number);
    if (at != numbers.end() && *at == number) numbers.erase(at);
}

// Records that have not logged on are in the channel with the empty name, as the design has it: a
// user who joins that channel is among them.
void countIn(Server& server, ConnectionNumber connection, const std::string& channel) {
    insertSorted(server.channelMembers[codepage::toLower(channel)], connection);
}

void countOut(Server& server, ConnectionNumber connection, const std::string& channel) {
    std::string key = codepage::toLower(channel);
    auto it = server.channelMembers.find(key);
    if (it == server.channelMembers.end()) return;
    eraseSorted(it->second, connection);
    if (!it->second.empty()) return;
    server.channelMembers.erase(it);
    server.channelNames.erase(key);
}

void indexName(Server& server, ConnectionNumber connection, const std::string& name) {
    insertSorted(server.logonNames[codepage::toLower(name)], connection);
}

void unindexName(Server& server, ConnectionNumber connection, const std::string& name) {
    auto it = server.logonNames.find(codepage::toLower(name));
    if (it == server.logonNames.end()) return;
    eraseSorted(it->second, connection);
    if (it->second.empty()) server.logonNames.erase(it);
}

// The record under the number is going: out of its channel, the phantoms and the names.
void forget(Server& server, ConnectionNumber connection, const clsUserData& record) {
    countOut(server, connection, record.channel);
    if (record.isChannelPhantom) eraseSorted(server.channelPhantoms, connection);
    unindexName(server, connection, record.originalName);
}

}  // namespace

void putRecord(Server& server, ConnectionNumber connection, clsUserData record) {
    if (const clsUserData* old = server.users.find(connection)) forget(server, connection, *old);
    countIn(server, connection, record.channel);
    if (record.isChannelPhantom) insertSorted(server.channelPhantoms, connection);
    indexName(server, connection, record.originalName);
    server.users.put(connection, std::move(record));
}

void removeRecord(Server& server, ConnectionNumber connection) {
    const clsUserData* record = server.users.find(connection);
    if (!record) return;
    forget(server, connection, *record);
    server.users.remove(connection);
}

void clearRecords(Server& server) {
    server.users.clear();
    server.channelMembers.clear();
    server.channelNames.clear();
    server.channelPhantoms.clear();
    server.logonNames.clear();
}

void nameRecord(Server& server, ConnectionNumber connection, clsUserData& record, std::string name) {
    unindexName(server, connection, record.originalName);
    indexName(server, connection, name);
    record.originalName = std::move(name);
}

int findUserByName(const Server& server, std::string_view name) {
    // The first holder in table order; records not logged on all hold the empty name.
    auto it = server.logonNames.find(codepage::toLower(name));
    if (it == server.logonNames.end()) return -1;
    int first = -1;
    for (ConnectionNumber number : it->second)
        if (first < 0 || server.users.order(number) < server.users.order(static_cast<ConnectionNumber>(first))) first = number;
    return first;
}

void enterChannel(Server& server, ConnectionNumber connection, clsUserData& record, std::string channel) {
    // A join of the channel one is in keeps it, and its spelling.
    if (!codepage::equalsNoCase(record.channel, channel)) {
        countIn(server, connection, channel);
        countOut(server, connection, record.channel);
    }
    record.channel = std::move(channel);
}

const std::vector<ConnectionNumber>& channelMembers(const Server& server, std::string_view channel) {
    auto it = server.channelMembers.find(codepage::toLower(channel));
    return it == server.channelMembers.end() ? kNobody : it->second;
}

void setChannelPhantom(Server& server, ConnectionNumber connection, clsUserData& record, bool on) {
    if (on) insertSorted(server.channelPhantoms, connection);
    else eraseSorted(server.channelPhantoms, connection);
    record.isChannelPhantom = on;
}

}  // namespace murmur
