#include "core/Membership.h"

#include "host/CodePage.h"

namespace murmur {
namespace {

void countIn(Server& server, const std::string& channel) {
    if (!channel.empty()) ++server.channelMembers[codepage::toLower(channel)];
}

void countOut(Server& server, const std::string& channel) {
    if (channel.empty()) return;
    std::string key = codepage::toLower(channel);
    auto it = server.channelMembers.find(key);
    if (it == server.channelMembers.end() || --it->second > 0) return;
    server.channelMembers.erase(it);
    server.channelNames.erase(key);
}

}  // namespace

void putRecord(Server& server, ConnectionNumber connection, clsUserData record) {
    if (const clsUserData* old = server.users.find(connection)) countOut(server, old->channel);
    countIn(server, record.channel);
    server.users.put(connection, std::move(record));
}

void removeRecord(Server& server, ConnectionNumber connection) {
    const clsUserData* record = server.users.find(connection);
    if (!record) return;
    std::string channel = record->channel;
    server.users.remove(connection);
    countOut(server, channel);
}

void clearRecords(Server& server) {
    server.users.clear();
    server.channelMembers.clear();
    server.channelNames.clear();
}

void enterChannel(Server& server, clsUserData& record, std::string channel) {
    // In before out: a join of the channel one is in must not forget it on the way.
    countIn(server, channel);
    countOut(server, record.channel);
    record.channel = std::move(channel);
}

int channelMemberCount(const Server& server, std::string_view channel) {
    auto it = server.channelMembers.find(codepage::toLower(channel));
    return it == server.channelMembers.end() ? 0 : it->second;
}

}  // namespace murmur
