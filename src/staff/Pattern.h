// Name patterns of the server-wide kick and ban: "?" one character, "*" any run, "#" one digit,
// "[a-z]" / "[!a-z]" one character in or not in a list; everything else is literal.
#pragma once

#include <string_view>

namespace murmur {

// Whether the whole text matches the pattern; letter case counts (callers lower both).
bool matchesPattern(std::string_view text, std::string_view pattern);

}  // namespace murmur
