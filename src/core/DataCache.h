// Data files read at every logon (the rosters, the ban lists, the account file) are held in memory
// and read again only when the file on disk has changed, so that a logon costs no file reading while
// a hand edit still takes effect at the next logon.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/TextFile.h"

namespace murmur {

// A list of names or addresses, one a line, compared whole and without regard to letter case.
struct ListCache {
    textfile::Stamp stamp;
    bool loaded = false;
    std::unordered_set<std::string> lowered;
};

// Whether some line of the file at the path is the entry (letter case aside; lines are whole,
// nothing is trimmed); a missing or unreadable file lists nothing.
bool listHolds(ListCache& cache, const std::string& path, std::string_view entry);

// users.txt as last read: its text, and where each account line starts, by a hash of its lower-cased
// name. Lines the server appended since are found at the end of the text.
struct AccountCache {
    textfile::Stamp stamp;
    bool loaded = false;
    bool readable = true;
    std::string text;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> index;  // (name hash, line start), sorted
    std::vector<std::uint32_t> appended;                        // line starts, in file order
};

}  // namespace murmur
