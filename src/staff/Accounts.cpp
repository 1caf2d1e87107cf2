#include "staff/Accounts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/DataFiles.h"
#include "host/CodePage.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

// Accounts the server added are looked through one by one until there are this many.
constexpr std::size_t kAppendedBeforeMerge = 1024;

// The password key. Every account in users.txt was stored with it: changing a single entry
// locks out every stored account.
constexpr std::array<int, 6> kPasswordKey = {2, 5, 1, 4, 3, 6};

// The lines of the text and the index of the first account of the name, or -1.
int accountLine(const std::vector<std::string>& lines, std::string_view name) {
    // The piece after the last CR LF is never an account: the server ends what it writes with
    // CR LF, so a line without one is not finished.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        std::size_t colon = lines[i].find(':');
        if (colon != std::string::npos && codepage::equalsNoCase(std::string_view(lines[i]).substr(0, colon), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += lines[i];
    }
    return text;
}

// The lock is released when its descriptor closes, also when the holder dies.
class LockFile {
public:
    explicit LockFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644)) {}
    ~LockFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool opened() const { return fd_ >= 0; }
    // Every holder keeps it for one read and one rewrite, so a short wait is enough; a holder
    // that keeps it longer must not stop the caller for good.
    bool take(std::chrono::milliseconds patience) {
        auto deadline = std::chrono::steady_clock::now() + patience;
        auto pause = std::chrono::milliseconds(1);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
        return true;
    }

private:
    int fd_;
};

std::uint32_t nameHash(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(codepage::toLower(c))) * 16777619u;
    return hash;
}

// The account line starting at the offset: its name, and the stored form after the first colon.
std::pair<std::string_view, std::string_view> accountAt(const std::string& text, std::uint32_t start) {
    std::string_view line(text.data() + start, text.find("\r\n", start) - start);
    std::size_t colon = line.find(':');
    return {line.substr(0, colon), line.substr(colon + 1)};
}

void loadAccounts(AccountCache& cache, const std::string& path) {
    textfile::Stamp now = textfile::stamp(path);
    if (cache.loaded && now == cache.stamp) return;
    std::string text;
    textfile::ReadStatus status = textfile::readWhole(path, text);
    cache = AccountCache{};
    // Lines are found by 32-bit offsets; a file beyond that is not one the server can use.
    cache.readable = status != textfile::ReadStatus::failed && text.size() <= 0xFFFFFFFFu;
    if (!cache.readable || status != textfile::ReadStatus::ok) text.clear();
    cache.text = std::move(text);
    // Only lines ended by CR LF are accounts: the piece after the last one is not finished.
    for (std::size_t start = 0, end; (end = cache.text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string_view line(cache.text.data() + start, end - start);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            cache.index.emplace_back(nameHash(line.substr(0, colon)), static_cast<std::uint32_t>(start));
    }
    std::sort(cache.index.begin(), cache.index.end());
    cache.stamp = now;
    cache.loaded = cache.readable && textfile::settled(now);
}

std::optional<std::string> cachedAccount(const AccountCache& cache, std::string_view name) {
    std::uint32_t hash = nameHash(name);
    auto it = std::lower_bound(cache.index.begin(), cache.index.end(), std::make_pair(hash, std::uint32_t{0}));
    // Lines of one hash lie in file order: the first of the name is its account.
    for (; it != cache.index.end() && it->first == hash; ++it) {
        auto [lineName, stored] = accountAt(cache.text, it->second);
        if (codepage::equalsNoCase(lineName, name)) return std::string(stored);
    }
    for (std::uint32_t start : cache.appended) {
        auto [lineName, stored] = accountAt(cache.text, start);
        if (codepage::equalsNoCase(lineName, name)) return std::string(stored);
    }
    return std::nullopt;
}

}  // namespace

AccountLookup lookUpAccount(AccountCache& cache, const std::string& directory, std::string_view name) {
    loadAccounts(cache, textfile::pathIn(directory, files::accounts));
    return {cache.readable, cache.stamp.present, cache.readable ? cachedAccount(cache, name) : std::nullopt};
}

AccountChange addAccount(AccountCache& cache, const std::string& directory, std::chrono::milliseconds patience,
                         std::string_view name, std::string_view encoded, std::optional<std::string>& stored) {
    LockFile lock(textfile::pathIn(directory, files::accountsLock));
    if (!lock.opened()) return AccountChange::unwritable;
    if (!lock.take(patience)) return AccountChange::busy;
    std::string path = textfile::pathIn(directory, files::accounts);
    // Another process may have changed the file since the logon looked.
    loadAccounts(cache, path);
    if (!cache.readable) return AccountChange::unreadable;
    if ((stored = cachedAccount(cache, name))) return AccountChange::unchanged;
    // The first account of a file needs a password; the file may have gone since the logon looked.
    if (!cache.stamp.present && encoded.empty()) return AccountChange::unchanged;
    std::string line = std::string(name) + ":" + std::string(encoded);
    textfile::Stamp after;
    if (!textfile::appendLineDurably(path, line, after)) return AccountChange::unwritable;
    bool finished = cache.text.empty() || cache.text.ends_with("\r\n");
    auto start = static_cast<std::uint32_t>(cache.text.size());
    cache.text += line + "\r\n";
    cache.stamp = after;
    // A last line without its CR LF (a hand edit) was ended before the new account and becomes an
    // account itself: the file is read again.
    if (!finished || cache.text.size() > 0xFFFFFFFFu) {
        cache.loaded = false;
        return AccountChange::written;
    }
    cache.appended.push_back(start);
    // Now and then the new lines join the index, each in its place: a merge, not a new sort.
    if (cache.appended.size() >= kAppendedBeforeMerge) {
        std::size_t before = cache.index.size();
        for (std::uint32_t at : cache.appended) cache.index.emplace_back(nameHash(accountAt(cache.text, at).first), at);
        cache.appended.clear();
        std::sort(cache.index.begin() + static_cast<std::ptrdiff_t>(before), cache.index.end());
        std::inplace_merge(cache.index.begin(), cache.index.begin() + static_cast<std::ptrdiff_t>(before), cache.index.end());
    }
    return AccountChange::written;
}

std::string hashPassword(std::string_view password) {
    std::string result;
    for (std::size_t i = 0; i < password.size(); ++i) {
        bool even = i % 2 == 0;
        std::string working(1, password[i]);
        for (int round = 0; round <= kPasswordKey[i % kPasswordKey.size()]; ++round) {
            int code = static_cast<unsigned char>(working[0]);
            if (even) working = code + 1 >= 255 ? std::string("48") : std::string(1, static_cast<char>(code + 1));
            else working = code - 1 <= 0 ? std::string("50") : std::string(1, static_cast<char>(code - 1));
        }
        result += working;
    }
    return result;
}

bool isStorable(std::string_view encoded) { return encoded.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::optional<std::string> findAccount(std::string_view text, std::string_view name) {
    std::vector<std::string> lines = textfile::splitCrLf(text);
    int at = accountLine(lines, name);
    if (at < 0) return std::nullopt;
    const std::string& line = lines[static_cast<std::size_t>(at)];
    return line.substr(line.find(':') + 1);
}

std::string withPassword(std::string_view text, std::string_view name, std::string_view encoded) {
    std::vector<std::string> lines = textfile::splitCrLf(text);
    int at = accountLine(lines, name);
    if (at < 0) return std::string(text) + std::string(name) + ":" + std::string(encoded) + "\r\n";
    std::string& line = lines[static_cast<std::size_t>(at)];
    line = line.substr(0, line.find(':') + 1) + std::string(encoded);
    return joinLines(lines);
}

std::string withoutAccount(std::string_view text, std::string_view name, int& removed) {
    std::vector<std::string> lines = textfile::splitCrLf(text);
    removed = 0;
    // Every account of the name goes: a later one would otherwise be found in its place.
    for (int at; (at = accountLine(lines, name)) >= 0; ++removed) lines.erase(lines.begin() + at);
    return joinLines(lines);
}

AccountChange changeAccounts(const std::string& directory, std::chrono::milliseconds patience,
                             const std::function<bool(std::string& text, bool present)>& change) {
    LockFile lock(textfile::pathIn(directory, files::accountsLock));
    if (!lock.opened()) return AccountChange::unwritable;
    if (!lock.take(patience)) return AccountChange::busy;
    std::string path = textfile::pathIn(directory, files::accounts);
    std::string text;
    textfile::ReadStatus status = textfile::readWhole(path, text);
    if (status == textfile::ReadStatus::failed) return AccountChange::unreadable;
    if (!change(text, status == textfile::ReadStatus::ok)) return AccountChange::unchanged;
    return textfile::writeWhole(path, text) ? AccountChange::written : AccountChange::unwritable;
}

}  // namespace murmur
