#include "core/Lookups.h"

#include <arpa/inet.h>

#include <cstdio>

#include "core/Membership.h"
#include "host/CodePage.h"
#include "host/TextFile.h"

namespace murmur {

clsUserData* findRecordByName(Server& server, std::string_view name) {
    int number = findUserByName(server, name);
    return number < 0 ? nullptr : server.users.find(static_cast<ConnectionNumber>(number));
}

bool statesOwnName(const clsUserData& sender, std::string_view stated) {
    return codepage::equalsNoCase(sender.originalName, stated);
}

bool isUserInChannel(const Server& server, std::string_view channel, std::string_view name) {
    int number = findUserByName(server, name);
    if (number < 0) return false;
    return codepage::equalsNoCase(server.users.find(static_cast<ConnectionNumber>(number))->channel, channel);
}

std::string stripPrefix(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '@' && c != '%') out.push_back(c);
    return out;
}

std::vector<std::string> sortByRank(const std::vector<std::string>& names) {
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (char prefix : {'%', '@'})
        for (const auto& name : names)
            if (!name.empty() && name[0] == prefix) sorted.push_back(name);
    for (const auto& name : names)
        if (!name.empty() && name[0] != '%' && name[0] != '@') sorted.push_back(name);
    return sorted;
}

std::vector<std::string> sortByRank(std::string_view list) { return sortByRank(textfile::split(list, ", ")); }

std::vector<std::string> listNamesInTableOrder(const Server& server) {
    std::vector<std::string> names;
    names.reserve(server.users.count());
    for (const auto& [number, record] : server.users) names.push_back(record.listName);
    return names;
}

std::string hostKey(std::string_view address) {
    unsigned char bytes[16];
    std::string text(address);
    if (::inet_pton(AF_INET6, text.c_str(), bytes) != 1) return text;
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "%x:%x:%x:%x::/64", bytes[0] << 8 | bytes[1], bytes[2] << 8 | bytes[3],
                  bytes[4] << 8 | bytes[5], bytes[6] << 8 | bytes[7]);
    return prefix;
}

bool isRestricted(const Server& server, std::string_view channel) {
    for (const auto& entry : server.restrictedChannels)
        if (codepage::equalsNoCase(entry, channel)) return true;
    return false;
}

std::string joinNonEmpty(const std::vector<std::string>& entries, std::string_view separator) {
    std::string out;
    for (const auto& entry : entries) {
        if (entry.empty()) continue;
        if (!out.empty()) out += separator;
        out += entry;
    }
    return out;
}

}  // namespace murmur
