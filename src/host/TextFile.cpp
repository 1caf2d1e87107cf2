#include "host/TextFile.h"


#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace murmur::textfile {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

ReadStatus readWhole(const std::string& path, std::string& text) {
    text.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadStatus::failed;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            text.clear();
            return ReadStatus::failed;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadStatus::ok;
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty()) return pieces;
    if (separator.empty()) return {std::string(text)};
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

std::vector<std::string> splitCrLf(std::string_view text) { return split(text, "\r\n"); }

std::vector<std::string> readLines(const std::string& path) {
    std::string text;
    if (readWhole(path, text) != ReadStatus::ok) return {};
    return splitCrLf(text);
}

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

namespace {

Stamp stampOf(const struct stat& st) {
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

Stamp stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return stampOf(st);
}

bool settled(const Stamp& stamp) {
    constexpr std::int64_t kSettleNs = 2'000'000'000;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec - stamp.modifiedNs > kSettleNs;
}

namespace {

// Opens the file for appending, and says what to write for the line: the line and CR LF, after a
// CR LF of its own when the file's last line has none (a hand edit), which would otherwise take
// the new line onto its end and spoil both.
int openForAppend(const std::string& path, std::string_view line, std::string& data) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // A file the server may write but not read is appended to without the look at its end.
    bool readable = fd >= 0;
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return fd;
    struct stat st {};
    char last[2] = {};
    bool ended = !readable || ::fstat(fd, &st) != 0 || st.st_size == 0 ||
                 (st.st_size >= 2 && ::pread(fd, last, 2, st.st_size - 2) == 2 && last[0] == '\r' && last[1] == '\n');
    data = ended ? "" : "\r\n";
    data.append(line);
    data += "\r\n";
    return fd;
}

}  // namespace

bool appendLineDurably(const std::string& path, std::string_view line, Stamp& after) {
    std::string data;
    int fd = openForAppend(path, line, data);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = writeAll(fd, data) && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    if (ok) after = stampOf(st);
    return ::close(fd) == 0 && ok;
}

bool appendLine(const std::string& path, std::string_view line) {
    std::string data;
    int fd = openForAppend(path, line, data);
    if (fd < 0) return false;
    bool ok = writeAll(fd, data);
    return ::close(fd) == 0 && ok;
}

bool writeWhole(const std::string& path, std::string_view text) {
    std::string temporary = path + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // The new file keeps the mode of the one it replaces, and its owner where the writer may give
    // it (root rewriting a file of the service's user): the service must still read it.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd, old.st_mode & 07777);
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

bool rewrite(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return writeWhole(path, text);
}

bool createIfMissing(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    return ::close(fd) == 0;
}

std::string pathIn(const std::string& directory, std::string_view name) {
    if (directory.empty()) return std::string(name);
    std::string path = directory;
    if (path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace murmur::textfile
