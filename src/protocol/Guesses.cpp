#include "protocol/Guesses.h"

#include "core/Lookups.h"

namespace murmur {
namespace {

using Guess = GuessLimits;

// Milliseconds from then to now; the tick count may wrap between them.
std::uint32_t since(std::int32_t then, std::int32_t now) {
    return static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then);
}

bool expired(const FailedLogons& entry, std::int32_t now) {
    if (entry.locked) return since(entry.lockedAt, now) >= static_cast<std::uint32_t>(Guess::lockoutMs);
    return entry.ticks.empty() || since(entry.ticks.back(), now) >= static_cast<std::uint32_t>(Guess::windowMs);
}

// The table is in the order of the latest wrong password, so what has expired is at its front.
void forgetExpired(Server& server, std::int32_t now) {
    auto& table = server.failedLogons;
    while (!table.empty() && expired(table.begin()->second, now)) table.remove(table.begin()->first);
}

}  // namespace

bool isLockedOut(Server& server, std::string_view address) {
    std::int32_t now = server.host.loop().tickCount();
    forgetExpired(server, now);
    std::string key = hostKey(address);
    const FailedLogons* entry = server.failedLogons.find(key);
    if (entry && expired(*entry, now)) {
        server.failedLogons.remove(key);
        return false;
    }
    return entry && entry->locked;
}

void countWrongPassword(Server& server, std::string_view address) {
    std::int32_t now = server.host.loop().tickCount();
    forgetExpired(server, now);
    std::string key = hostKey(address);
    FailedLogons entry;
    if (FailedLogons* known = server.failedLogons.find(key); known && !expired(*known, now)) entry = std::move(*known);
    server.failedLogons.remove(key);  // to the end: it has the latest wrong password now
    entry.ticks.push_back(now);
    if (entry.ticks.size() > Guess::wrongPasswords) entry.ticks.pop_front();
    // So many within the window: however the guesses are spread, no window holds one more.
    if (entry.ticks.size() == Guess::wrongPasswords &&
        since(entry.ticks.front(), now) < static_cast<std::uint32_t>(Guess::windowMs)) {
        entry.locked = true;
        entry.lockedAt = now;
    }
    server.failedLogons.put(key, std::move(entry));
    if (server.failedLogons.count() > Guess::addresses) server.failedLogons.remove(server.failedLogons.begin()->first);
}

}  // namespace murmur
