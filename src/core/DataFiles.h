// The files of the data directory, by the names they have always had: existing installations keep
// their data only as long as these stay as they are.
#pragma once

namespace murmur::files {

constexpr const char* settings = "MMConf.ini";
constexpr const char* accounts = "users.txt";
// Held by whoever changes users.txt; a file of its own, as the rewrite replaces users.txt itself.
constexpr const char* accountsLock = "users.txt.lock";
constexpr const char* administrators = "admin.txt";
constexpr const char* moderators = "mods.txt";
constexpr const char* bannedNames = "banned.txt";
constexpr const char* bannedAddresses = "IPs.txt";
constexpr const char* restrictedChannels = "RestrictedChannels.txt";
constexpr const char* allowedChannels = "AllowedChannels.txt";
constexpr const char* idleMessages = "Idles.txt";
constexpr const char* chatLogs = "logs";  // a folder: one chat-YYYY-MM-DD.txt a day

}  // namespace murmur::files
