// The account file, users.txt: one account a line, the name, a colon and the stored form of its
// password, lines ended by CR LF. Logons read it as it is on disk; whoever changes it (the server
// creating an account, the operator's --passwd and --remove-account) takes one advisory lock,
// reads it afresh and rewrites it whole, so that no side loses another's update.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace murmur {

// The stored form of a password. Every account in users.txt was stored with it: it never changes.
std::string hashPassword(std::string_view password);
// Whether a stored form can stand at the end of an account line: a CR, LF or NUL would cut the
// line or add another one.
bool isStorable(std::string_view encoded);

// The stored form of the first account of the name (letter case aside) in the file's text; the
// piece after the last CR LF is unfinished and never an account.
std::optional<std::string> findAccount(std::string_view text, std::string_view name);
// The text with the first account of the name given the stored form (the name keeps the file's
// spelling), or with the account added at the end. Every other byte stays as it was.
std::string withPassword(std::string_view text, std::string_view name, std::string_view encoded);
// The text without any account of the name; removed tells how many lines went.
std::string withoutAccount(std::string_view text, std::string_view name, int& removed);

enum class AccountChange { written, unchanged, busy, unreadable, unwritable };

// The read-modify-write of users.txt in the directory, under the lock (waited for at most the
// patience). The change gets the text as it is now (empty when the file is missing, and present
// false) and returns whether to write it back; the rewrite is whole and atomic.
AccountChange changeAccounts(const std::string& directory, std::chrono::milliseconds patience,
                             const std::function<bool(std::string& text, bool present)>& change);

}  // namespace murmur
