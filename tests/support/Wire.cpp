#include "support/Wire.h"

#include <cctype>

namespace murmur::test {

void PrintTo(const Packet& packet, std::ostream* os) {
    *os << "{" << packet.id << ", \"";
    for (unsigned char c : packet.payload) {
        if (c == 0) *os << "\\0";
        else if (c < 32 || c > 126) *os << "\\x" << std::hex << int(c) << std::dec;
        else *os << c;
    }
    *os << "\"}";
}

std::string frame(int id, const std::string& payload) {
    std::string out(1, static_cast<char>(id));
    out += std::to_string(payload.size());
    out.push_back('\0');
    out += payload;
    return out;
}

std::string fields(const std::vector<std::string>& parts) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out.push_back('\0');
        out += parts[i];
    }
    return out;
}

std::string refusal(const std::string& text) {
    std::string out = "\x03" + text;
    out.push_back('\0');
    out += "0";
    return out;
}

Packet packet(int id, const std::vector<std::string>& parts) { return {id, fields(parts)}; }

std::vector<Packet> decode(const std::string& bytes) {
    std::vector<Packet> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t nul = bytes.find('\0', at + 1);
        std::string digits = nul == std::string::npos ? "" : bytes.substr(at + 1, nul - at - 1);
        bool numeric = !digits.empty() && digits.size() < 10;
        for (char c : digits) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
        std::size_t length = numeric ? std::stoul(digits) : 0;
        if (!numeric || nul + 1 + length > bytes.size()) {
            out.push_back({-1, bytes.substr(at)});
            return out;
        }
        out.push_back({static_cast<unsigned char>(bytes[at]), bytes.substr(nul + 1, length)});
        at = nul + 1 + length;
    }
    return out;
}

}  // namespace murmur::test
