// hashPassword: every password character gives one output character, or "48" / "50" when the
// last round ran off the top (even positions) or the bottom (odd positions) of the byte range.
// The piece for a character depends only on the character and its position modulo the key length,
// so the hash of a prefix is a prefix of the hash, and no NUL or 0xFF is ever stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "staff/Accounts.h"

namespace {

constexpr std::size_t kKeyLength = 6;
constexpr std::size_t kLongest = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kLongest) return -1;
    std::string_view password(reinterpret_cast<const char*>(data), size);

    std::string hash = murmur::hashPassword(password);
    if (murmur::hashPassword(password) != hash) std::abort();
    if (hash.size() < password.size() || hash.size() > 2 * password.size()) std::abort();
    for (unsigned char c : hash)
        if (c == 0 || c == 0xFF) std::abort();

    // The hash is the pieces of its characters end to end, each piece found by hashing the character
    // alone after a lead of plain letters that puts it at the same place in the key's cycle.
    std::string leads[kKeyLength];
    for (std::size_t k = 0; k < kKeyLength; ++k) leads[k] = murmur::hashPassword(std::string(k, 'a'));
    std::string joined;
    std::size_t doubled = 0;
    for (std::size_t i = 0; i < password.size(); ++i) {
        std::size_t k = i % kKeyLength;
        std::string alone = murmur::hashPassword(std::string(k, 'a') + password[i]);
        if (alone.compare(0, leads[k].size(), leads[k]) != 0) std::abort();
        std::string piece = alone.substr(leads[k].size());
        if (piece.size() == 2) {
            if (piece != (i % 2 == 0 ? "48" : "50")) std::abort();
            ++doubled;
        } else if (piece.size() != 1) {
            std::abort();
        }
        joined += piece;
    }
    if (joined != hash || hash.size() != password.size() + doubled) std::abort();
    // A prefix of the password hashes to a prefix of the hash.
    std::string half = murmur::hashPassword(password.substr(0, password.size() / 2));
    if (hash.compare(0, half.size(), half) != 0) std::abort();
    return 0;
}
