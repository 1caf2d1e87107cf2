#include "core/DataCache.h"

#include "host/CodePage.h"

namespace murmur {

bool listHolds(ListCache& cache, const std::string& path, std::string_view entry) {
    textfile::Stamp now = textfile::stamp(path);
    if (!cache.loaded || !(now == cache.stamp)) {
        cache.lowered.clear();
        for (const auto& line : textfile::readLines(path)) cache.lowered.insert(codepage::toLower(line));
        cache.stamp = now;
        cache.loaded = textfile::settled(now);
    }
    return cache.lowered.count(codepage::toLower(entry)) != 0;
}

}  // namespace murmur
