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

#include "core/DataCache.h"

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

// users.txt as the server reads it at a logon: held in memory and read again only when the file on
// disk changed. Whether it could be read and whether it exists come with the answer.
struct AccountLookup {
    bool readable = true;
    bool present = false;
    std::optional<std::string> stored;  // the stored form of the name's first account
};
AccountLookup lookUpAccount(AccountCache& cache, const std::string& directory, std::string_view name);

enum class AccountChange { written, unchanged, busy, unreadable, unwritable };

// A new account, added at the end of users.txt under the lock, in one write that is on disk before
// it returns: the file is not rewritten. When the name has an account by then (another process
// made it), nothing is written and stored tells its stored form.
AccountChange addAccount(AccountCache& cache, const std::string& directory, std::chrono::milliseconds patience,
                         std::string_view name, std::string_view encoded, std::optional<std::string>& stored);

// The read-modify-write of users.txt in the directory, under the lock (waited for at most the
// patience). The change gets the text as it is now (empty when the file is missing, and present
// false) and returns whether to write it back; the rewrite is whole and atomic.
AccountChange changeAccounts(const std::string& directory, std::chrono::milliseconds patience,
                             const std::function<bool(std::string& text, bool present)>& change);

}  // namespace murmur
