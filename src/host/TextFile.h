// The data files are plain text in the code page, one entry per line, lines ended by CR LF. They
// are read whole and split; they are written by appending a line or by rewriting the whole file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace murmur::textfile {

enum class ReadStatus { ok, missing, failed };

// What a file is on disk: when any of these changes, what was read from it must be read again.
struct Stamp {
    bool present = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const Stamp&) const = default;
};
Stamp stamp(const std::string& path);
// Whether the file was last changed long enough ago that a change made now would show in its stamp.
// A file changed again within the same clock tick, to the same size, looks unchanged: what was read
// from an unsettled file is read again next time.
bool settled(const Stamp& stamp);

bool exists(const std::string& path);
// Size in bytes, or -1 when the file does not exist.
std::int64_t size(const std::string& path);
ReadStatus readWhole(const std::string& path, std::string& text);
// Every piece between CR LF pairs, the piece after the last one included. An empty text gives no
// pieces at all.
std::vector<std::string> splitCrLf(std::string_view text);
// Splits at every occurrence of the separator, keeping empty pieces; an empty text gives none.
std::vector<std::string> split(std::string_view text, std::string_view separator);
// Reads and splits; a missing or unreadable file gives no lines.
std::vector<std::string> readLines(const std::string& path);
// Creates the file when it is missing and adds the line and CR LF at its end, on a line of its own
// even when the last line lacks its CR LF.
bool appendLine(const std::string& path, std::string_view line);
// The same in one write that is on disk before it returns, and the file's stamp after it.
bool appendLineDurably(const std::string& path, std::string_view line, Stamp& after);
// Replaces the file with the lines, each ended by CR LF. The old content stays whole until the new
// one is complete on disk; the new file keeps the old one's mode, and its owner where allowed.
bool rewrite(const std::string& path, const std::vector<std::string>& lines);
bool writeWhole(const std::string& path, std::string_view text);
bool createIfMissing(const std::string& path);
// A file in a directory; an empty directory means the current one.
std::string pathIn(const std::string& directory, std::string_view name);

}  // namespace murmur::textfile
