// matchesPattern against a slow matcher that reads the pattern as it goes and tries every split
// of a "*" run, remembered so that long patterns stay cheap. The input is the text, a NUL, the
// pattern; without a NUL the input is matched against itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "staff/Pattern.h"

namespace {

constexpr std::size_t kLongest = 256;

bool inList(std::string_view items, unsigned char c) {
    std::size_t j = 0;
    while (j < items.size()) {
        if (j + 2 < items.size() && items[j + 1] == '-') {
            auto low = static_cast<unsigned char>(items[j]);
            auto high = static_cast<unsigned char>(items[j + 2]);
            if (low <= c && c <= high) return true;
            j += 3;
        } else {
            if (static_cast<unsigned char>(items[j]) == c) return true;
            j += 1;
        }
    }
    return false;
}

class SlowMatcher {
public:
    SlowMatcher(std::string_view text, std::string_view pattern)
        : text_(text), pattern_(pattern), memo_((text.size() + 1) * (pattern.size() + 1), -1) {}

    bool matches() { return match(0, 0); }

private:
    bool match(std::size_t t, std::size_t p) {
        signed char& known = memo_[t * (pattern_.size() + 1) + p];
        if (known >= 0) return known != 0;
        bool result = compute(t, p);
        known = result ? 1 : 0;
        return result;
    }

    bool compute(std::size_t t, std::size_t p) {
        if (p == pattern_.size()) return t == text_.size();
        char c = pattern_[p];
        if (c == '*') {
            for (std::size_t k = t; k <= text_.size(); ++k)
                if (match(k, p + 1)) return true;
            return false;
        }
        if (c == '[') {
            std::size_t close = pattern_.find(']', p + 1);
            if (close != std::string_view::npos) {
                std::string_view inside = pattern_.substr(p + 1, close - p - 1);
                if (inside.empty()) return match(t, close + 1);  // "[]" takes no character
                bool negated = inside.front() == '!';
                if (negated) inside.remove_prefix(1);
                if (t == text_.size()) return false;
                bool hit = inList(inside, static_cast<unsigned char>(text_[t])) != negated;
                return hit && match(t + 1, close + 1);
            }
        }
        if (t == text_.size()) return false;
        char x = text_[t];
        bool one = c == '?' || (c == '#' ? (x >= '0' && x <= '9') : c == x);
        return one && match(t + 1, p + 1);
    }

    std::string_view text_;
    std::string_view pattern_;
    std::vector<signed char> memo_;
};

bool hasWildcards(std::string_view s) { return s.find_first_of("?#*[") != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t nul = input.find('\0');
    std::string_view text = nul == std::string_view::npos ? input : input.substr(0, nul);
    std::string_view pattern = nul == std::string_view::npos ? input : input.substr(nul + 1);
    if (text.size() > kLongest || pattern.size() > kLongest) return -1;

    bool fast = murmur::matchesPattern(text, pattern);
    if (fast != SlowMatcher(text, pattern).matches()) std::abort();

    // A "*" takes any text, and text without wildcards matches itself alone.
    if (!murmur::matchesPattern(text, "*")) std::abort();
    if (!hasWildcards(text) && !murmur::matchesPattern(text, text)) std::abort();
    // A pattern with a "*" appended matches every text that the pattern matched.
    if (fast && !murmur::matchesPattern(std::string(text) + "tail", std::string(pattern) + "*")) std::abort();
    return 0;
}
