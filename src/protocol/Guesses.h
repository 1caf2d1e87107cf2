// The guess throttle: an address that gave too many wrong passwords in a short time is refused
// for a while, before the account file is read. The counts live in memory, bounded and expiring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

struct GuessLimits {
    static constexpr std::size_t wrongPasswords = 5;    // this many within the window lock the address
    static constexpr std::int32_t windowMs = 60000;
    static constexpr std::int32_t lockoutMs = 60000;
    static constexpr std::size_t addresses = 4096;      // remembered at most; the stalest go first
};

// Whether logons from the address are refused now.
bool isLockedOut(Server& server, std::string_view address);
// A wrong password was given from the address.
void countWrongPassword(Server& server, std::string_view address);

}  // namespace murmur
