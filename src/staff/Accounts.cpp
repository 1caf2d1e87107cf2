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

}  // namespace

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
