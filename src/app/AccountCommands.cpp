#include "app/AccountCommands.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>

#include "core/DataFiles.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "protocol/Logon.h"
#include "staff/Accounts.h"

namespace murmur {
namespace {

constexpr const char* kAsk = "New password for %s: ";
constexpr const char* kAskAgain = "Retype the password: ";
constexpr const char* kMismatch = "the passwords do not match";
constexpr const char* kEmpty = "an empty password cannot be set";
constexpr const char* kTooLong = "a password has at most 256 characters";
constexpr const char* kNoInput = "no password was given on standard input";
constexpr const char* kOutsideCodePage = "the password holds a character that the server's code page (Windows-1252) cannot hold";
constexpr const char* kUnstorable = "that password cannot be stored (its stored form would hold a line break); choose another";
constexpr const char* kNothingChanged = "; nothing was changed.";
constexpr std::size_t kLongestPassword = 256;
// The server holds the lock for one read and one appended line; a longer wait means something is wrong.
constexpr std::chrono::milliseconds kLockPatience{10000};

void complain(const std::string& message) { std::fprintf(stderr, "murmur-server: %s\n", message.c_str()); }

int refuse(const std::string& message) {
    complain(message + kNothingChanged);
    return 1;
}

// Text from the command line or a terminal, in the code page; nothing when a character does not fit.
std::optional<std::string> fromUtf8(const std::string& utf8) {
    std::string bytes = codepage::fromUtf8(utf8);
    if (codepage::toUtf8(bytes) != utf8) return std::nullopt;
    return bytes;
}

// The terminal's settings while echo is off, for a signal that ends the program in the middle.
termios savedTerminal;
void restoreTerminal(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// One line of standard input without its line end; nothing at the end of input. Longer lines are
// read to their end and cut.
std::optional<std::string> readLine() {
    std::string line;
    char c = 0;
    bool any = false;
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n') break;
        if (line.size() <= kLongestPassword) line.push_back(c);
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> askQuietly(const std::string& prompt) {
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::optional<std::string> line = readLine();
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    return line;
}

// The password from the terminal, asked twice without echo, or one line of standard input.
std::optional<std::string> readPassword(const std::string& name, std::string& problem) {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
        std::optional<std::string> line = readLine();
        if (!line) problem = kNoInput;
        return line;
    }
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, restoreTerminal);
    char prompt[512];
    std::snprintf(prompt, sizeof prompt, kAsk, codepage::toPrintableUtf8(name).c_str());
    std::optional<std::string> first = askQuietly(prompt);
    std::optional<std::string> second = first ? askQuietly(kAskAgain) : std::nullopt;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, SIG_DFL);
    if (!first || !second) problem = kNoInput;
    else if (*first != *second) problem = kMismatch;
    return problem.empty() ? first : std::nullopt;
}

// Why the text cannot be an account's name, or nothing when it can.
std::optional<std::string> nameProblem(const std::string& name) {
    switch (logonNameProblem(name)) {
        case NameProblem::none: return std::nullopt;
        case NameProblem::space: return "no logon name holds a space";
        case NameProblem::controlOrColon: return "no logon name holds a control character or a colon";
        case NameProblem::tooLong: return "no logon name is longer than " + std::to_string(maxNameLength) + " characters";
        case NameProblem::empty: return "the name is empty";
        case NameProblem::staffPrefix: return "no logon name starts with \"@\" or \"%\"";
    }
    return std::nullopt;
}

// The checks both commands make before they touch anything; 0 when all is well.
int checkTarget(const std::string& directory, const std::string& utf8Name, std::string& name) {
    std::optional<std::string> bytes = fromUtf8(utf8Name);
    if (!bytes) return refuse("the name holds a character that the server's code page (Windows-1252) cannot hold");
    name = *bytes;
    if (auto why = nameProblem(name)) return refuse("'" + utf8Name + "' cannot be an account: " + *why);
    struct stat st {};
    std::string where = directory.empty() ? "." : directory;
    if (::stat(where.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return refuse("the data directory '" + where + "' does not exist");
    return 0;
}

int reportChange(AccountChange change, const std::string& path) {
    switch (change) {
        case AccountChange::written:
        case AccountChange::unchanged: return 0;
        case AccountChange::busy: return refuse(path + " stayed locked by another process; try again");
        case AccountChange::unreadable: return refuse(path + " cannot be read");
        case AccountChange::unwritable: return refuse(path + " cannot be written (is the data directory writable?)");
    }
    return 1;
}

}  // namespace

int setPasswordCommand(const std::string& directory, const std::string& utf8Name) {
    std::string name;
    if (int status = checkTarget(directory, utf8Name, name)) return status;
    std::string problem;
    std::optional<std::string> typed = readPassword(name, problem);
    if (!typed) return refuse(problem);
    if (typed->size() > kLongestPassword) return refuse(kTooLong);
    std::optional<std::string> password = fromUtf8(*typed);
    if (!password) return refuse(kOutsideCodePage);
    if (password->empty()) return refuse(kEmpty);
    std::string encoded = hashPassword(*password);
    if (!isStorable(encoded)) return refuse(kUnstorable);

    bool existed = false;
    std::string path = textfile::pathIn(directory, files::accounts);
    AccountChange change = changeAccounts(directory, kLockPatience, [&](std::string& text, bool) {
        existed = findAccount(text, name).has_value();
        text = withPassword(text, name, encoded);
        return true;
    });
    if (int status = reportChange(change, path)) return status;
    std::printf("%s %s in %s.\n", existed ? "Password changed for" : "Account created for", utf8Name.c_str(), path.c_str());
    return 0;
}

int removeAccountCommand(const std::string& directory, const std::string& utf8Name) {
    std::string name;
    if (int status = checkTarget(directory, utf8Name, name)) return status;
    int removed = 0;
    std::string path = textfile::pathIn(directory, files::accounts);
    AccountChange change = changeAccounts(directory, kLockPatience, [&](std::string& text, bool) {
        text = withoutAccount(text, name, removed);
        return removed > 0;
    });
    if (int status = reportChange(change, path)) return status;
    if (removed == 0) return refuse("there is no account named '" + utf8Name + "' in " + path);
    std::printf("Account %s removed from %s.\n", utf8Name.c_str(), path.c_str());
    return 0;
}

}  // namespace murmur
