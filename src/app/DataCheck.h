// What a data directory holds, as the server would read it, and what in it cannot work: for the
// operator's --check before a start, or after editing files by hand.
#pragma once

#include <string>
#include <vector>

namespace murmur {

struct CheckReport {
    std::vector<std::string> lines;  // what was found, and each problem on a line of its own
    int problems = 0;
};

CheckReport checkDataDirectory(const std::string& directory);

}  // namespace murmur
