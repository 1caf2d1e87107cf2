#include "staff/Pattern.h"

#include <vector>

namespace murmur {
namespace {

struct Token {
    enum Kind { literal, anyOne, digit, anyRun, list } kind = literal;
    char ch = 0;
    bool negated = false;
    std::string_view items;  // the inside of a bracket list

    bool accepts(char c) const {
        switch (kind) {
            case literal: return c == ch;
            case anyOne: return true;
            case digit: return c >= '0' && c <= '9';
            case anyRun: return true;
            case list: break;
        }
        bool inList = false;
        for (std::size_t i = 0; i < items.size() && !inList; ++i) {
            if (i + 2 < items.size() && items[i + 1] == '-') {
                auto low = static_cast<unsigned char>(items[i]);
                auto high = static_cast<unsigned char>(items[i + 2]);
                auto u = static_cast<unsigned char>(c);
                inList = low <= u && u <= high;
                i += 2;
            } else {
                inList = items[i] == c;
            }
        }
        return inList != negated;
    }
};

std::vector<Token> tokenize(std::string_view pattern) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '?') tokens.push_back(Token{Token::anyOne, 0, false, {}});
        else if (c == '#') tokens.push_back(Token{Token::digit, 0, false, {}});
        else if (c == '*') tokens.push_back(Token{Token::anyRun, 0, false, {}});
        else if (c == '[' && pattern.find(']', i + 1) != std::string_view::npos) {
            std::size_t close = pattern.find(']', i + 1);
            std::string_view inside = pattern.substr(i + 1, close - i - 1);
            i = close;
            if (inside.empty()) continue;  // "[]" takes no character: it matches the empty string
            bool negated = inside[0] == '!';
            if (negated) inside.remove_prefix(1);
            tokens.push_back({Token::list, 0, negated, inside});
        } else {
            // A "[" without its "]" is an ordinary character.
            tokens.push_back(Token{Token::literal, c, false, {}});
        }
    }
    return tokens;
}

}  // namespace

bool matchesPattern(std::string_view text, std::string_view pattern) {
    std::vector<Token> tokens = tokenize(pattern);
    std::size_t t = 0, p = 0;
    std::size_t starToken = std::string_view::npos, starText = 0;
    while (t < text.size()) {
        if (p < tokens.size() && tokens[p].kind == Token::anyRun) {
            starToken = p++;
            starText = t;
        } else if (p < tokens.size() && tokens[p].accepts(text[t])) {
            ++p;
            ++t;
        } else if (starToken != std::string_view::npos) {
            p = starToken + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < tokens.size() && tokens[p].kind == Token::anyRun) ++p;
    return p == tokens.size();
}

}  // namespace murmur
