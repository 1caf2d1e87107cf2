// murmur-server [--headless] [--dir DIR] [--color auto|always|never]
#include <QApplication>
#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/AccountCommands.h"
#include "app/Attach.h"
#include "app/DataCheck.h"
#include "app/Display.h"
#include "app/Wiring.h"
#include "core/Lifecycle.h"
#include "core/Server.h"
#include "core/Version.h"
#include "host/CodePage.h"
#include "host/qt/QtHost.h"
#include "protocol/Logon.h"
#include "ui/ControlSocket.h"
#include "ui/Headless.h"
#include "ui/MainWindow.h"
#include "ui/Signals.h"

namespace {

constexpr const char* kUsage =
    "Usage: murmur-server [--headless] [--dir DIR] [--color auto|always|never]\n"
    "                     [--logon-timeout SECONDS] [--send-limit BYTES] [--max-connections N]\n"
    "                     [--max-per-address N]\n"
    "       murmur-server --attach [--dir DIR] [--color auto|always|never]\n"
    "       murmur-server --console TEXT [--dir DIR] [--color auto|always|never]\n"
    "       murmur-server --check [--dir DIR]\n"
    "       murmur-server --passwd NAME [--dir DIR] | --remove-account NAME [--dir DIR]\n"
    "       murmur-server --help | --version\n"
    "\n"
    "A chat server for Murmur clients.\n"
    "\n"
    "  --headless      run without a window: every operator line goes to standard output,\n"
    "                  every line of standard input is a console entry (chosen by itself\n"
    "                  when no display can be opened)\n"
    "  --dir DIR       the data directory: MMConf.ini, users.txt, the rosters, ban lists,\n"
    "                  channel lists, Idles.txt and chat logs (default: the current directory)\n"
    "  --color WHEN    colour the terminal output: auto (when it is a terminal), always, never\n"
    "  --logon-timeout SECONDS\n"
    "                  close connections that have not logged on by then (default 30; 0: never)\n"
    "  --send-limit BYTES\n"
    "                  drop a client whose unsent output passes this (default 1048576)\n"
    "  --max-connections N\n"
    "                  connections open or closing at once (default 10000); a newcomer beyond\n"
    "                  them takes the place of the oldest that has not logged on, or is refused\n"
    "  --max-per-address N\n"
    "                  connections open at once from one address, for IPv6 one /64 (default\n"
    "                  20; 0: no limit), with the same rule\n"
    "  --attach        a console on the server running on DIR: its last 500 operator lines,\n"
    "                  then every new one; every line typed is a console entry; Ctrl-D\n"
    "                  detaches and leaves the server running\n"
    "  --console TEXT  one console entry to the server running on DIR; prints the operator\n"
    "                  lines it caused (exit status 1 when no server runs there)\n"
    "  --check         read MMConf.ini and every data file, print what was found and every\n"
    "                  problem, and exit (status 1 when there is a problem); nothing listens\n"
    "  --passwd NAME   set or reset the password of the account NAME in users.txt (asked twice\n"
    "                  on a terminal, else one line of standard input); staff rank needs it\n"
    "  --remove-account NAME\n"
    "                  remove the account NAME from users.txt\n"
    "                  (both work beside a running server; exit status 1 when refused)\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Console commands: /help lists them; /users, /channels and /stats show who is on, where,\n"
    "and how the server does. The server listens for consoles on DIR/murmur.sock (or in\n"
    "$RUNTIME_DIRECTORY), mode 0600: only its own user and root may attach. For the service:\n"
    "  sudo murmur-server --attach --dir /var/lib/murmur-server\n"
    "\n"
    "SIGINT and SIGTERM save MMConf.ini and end the server with status 0; SIGHUP reloads\n"
    "RestrictedChannels.txt, AllowedChannels.txt and Idles.txt.\n";

struct Options {
    bool headless = false;
    bool check = false;
    bool attach = false;
    std::optional<std::string> console;
    std::string passwd, removeAccount;  // an account command and its name
    int serverOptions = 0;              // options other than --dir and the account commands
    std::string directory;
    std::string colour = "auto";
    murmur::Limits limits;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "murmur-server: %s\nTry 'murmur-server --help'.\n", message.c_str());
    std::exit(2);
}

long long number(const std::string& text, const char* option, long long smallest, long long largest) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < smallest || value > largest)
        fail(std::string(option) + " takes a whole number from " + std::to_string(smallest) + " to " +
             std::to_string(largest));
    return value;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool forAccounts = arg == "--dir" || arg.rfind("--dir=", 0) == 0 || arg == "--passwd" ||
                           arg.rfind("--passwd=", 0) == 0 || arg == "--remove-account" || arg.rfind("--remove-account=", 0) == 0;
        if (!forAccounts) ++options.serverOptions;
        auto value = [&](const char* name) -> std::string {
            std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
            if (i + 1 >= argc) fail(std::string(name) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("murmur-server %s\n", murmur::version);
            std::exit(0);
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--passwd" || arg.rfind("--passwd=", 0) == 0) {
            options.passwd = value("--passwd");
            if (options.passwd.empty()) fail("--passwd needs a name");
        } else if (arg == "--remove-account" || arg.rfind("--remove-account=", 0) == 0) {
            options.removeAccount = value("--remove-account");
            if (options.removeAccount.empty()) fail("--remove-account needs a name");
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--attach") {
            options.attach = true;
        } else if (arg == "--console" || arg.rfind("--console=", 0) == 0) {
            options.console = value("--console");
            if (options.console->find_first_of("\r\n") != std::string::npos) fail("--console takes one line");
        } else if (arg == "--dir" || arg.rfind("--dir=", 0) == 0) {
            options.directory = value("--dir");
            if (options.directory.empty()) fail("--dir needs a directory");
        } else if (arg == "--color" || arg.rfind("--color=", 0) == 0) {
            options.colour = value("--color");
            if (options.colour != "auto" && options.colour != "always" && options.colour != "never")
                fail("--color takes auto, always or never");
        } else if (arg == "--logon-timeout" || arg.rfind("--logon-timeout=", 0) == 0) {
            options.limits.logonTimeoutSeconds = static_cast<int>(number(value("--logon-timeout"), "--logon-timeout", 0, 86400));
        } else if (arg == "--send-limit" || arg.rfind("--send-limit=", 0) == 0) {
            options.limits.sendLimit = static_cast<std::size_t>(number(value("--send-limit"), "--send-limit", 1, 1LL << 40));
        } else if (arg == "--max-connections" || arg.rfind("--max-connections=", 0) == 0) {
            options.limits.maxConnections = static_cast<int>(number(value("--max-connections"), "--max-connections", 1, 32768));
        } else if (arg == "--max-per-address" || arg.rfind("--max-per-address=", 0) == 0) {
            options.limits.maxPerAddress = static_cast<int>(number(value("--max-per-address"), "--max-per-address", 0, 32768));
        } else {
            fail("unknown option '" + arg + "'");
        }
    }
    if (options.check + options.attach + options.console.has_value() > 1) fail("--check, --attach and --console go alone");
    bool accounts = !options.passwd.empty() || !options.removeAccount.empty();
    if (accounts && (options.serverOptions > 0 || (!options.passwd.empty() && !options.removeAccount.empty())))
        fail("--passwd and --remove-account take one name and --dir alone");
    return options;
}

// Thousands of clients need thousands of descriptors: take all the system allows.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

void prepareDirectory(const std::string& directory) {
    if (directory.empty()) return;
    struct stat st {};
    if (::stat(directory.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) fail("'" + directory + "' is not a directory");
        return;
    }
    // The folders above it too: a desktop's ~/.local/share may not be there yet.
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) fail("cannot create the data directory '" + directory + "': " + error.message());
}

bool wantsColours(const Options& options) {
    return options.colour == "always" || (options.colour == "auto" && ::isatty(STDOUT_FILENO));
}

int runHeadless(int argc, char** argv, const Options& options, murmur::ControlClaim claim) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Murmur Server");
    murmur::QtHost host;
    murmur::Server server(host, options.directory);
    murmur::wireHandlers(server);
    server.limits = options.limits;
    murmur::HeadlessFrontend frontend(server, wantsColours(options));
    // An attached console types into the same console line as standard input.
    murmur::ControlSocket control(server, std::move(claim), [&](const std::string& utf8) { frontend.consoleLine(utf8); });
    murmur::onSignals(
        [&] {
            host.runHandler([&] { murmur::shutDown(server); });
            QCoreApplication::exit(0);
        },
        [&] { host.runHandler([&] { murmur::reloadLists(server); }); });
    frontend.readConsoleFrom(STDIN_FILENO);
    host.runHandler([&] {
        murmur::startUp(server);
        murmur::readLogonFiles(server);
    });
    return app.exec();
}

int runWindow(int argc, char** argv, const Options& options, murmur::ControlClaim claim) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Murmur Server");
    murmur::QtHost host;
    murmur::Server server(host, options.directory);
    murmur::wireHandlers(server);
    server.limits = options.limits;
    murmur::frmMain window(server);
    murmur::ControlSocket control(server, std::move(claim));
    murmur::onSignals([&] { window.close(); }, [&] { host.runHandler([&] { murmur::reloadLists(server); }); });
    host.runHandler([&] {
        murmur::startUp(server);
        murmur::readLogonFiles(server);
    });
    window.showAfterStartUp();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    // The account commands need no Qt and start no server.
    if (!options.passwd.empty()) return murmur::setPasswordCommand(options.directory, options.passwd);
    if (!options.removeAccount.empty()) return murmur::removeAccountCommand(options.directory, options.removeAccount);
    if (options.check) {
        murmur::CheckReport report = murmur::checkDataDirectory(options.directory);
        for (const auto& line : report.lines) std::printf("%s\n", murmur::codepage::toPrintableUtf8(line).c_str());
        return report.problems == 0 ? 0 : 1;
    }
    if (options.attach) return murmur::attachConsole(options.directory, wantsColours(options));
    if (options.console) return murmur::sendConsoleEntry(options.directory, *options.console, wantsColours(options));
    prepareDirectory(options.directory);
    // Before the port is taken and before any data file is read: one server per data directory.
    murmur::ControlClaim claim = murmur::claimControlSocket(options.directory);
    if (!claim.refusal.empty()) {
        std::fprintf(stderr, "murmur-server: %s\n", claim.refusal.c_str());
        return 1;
    }
    if (!claim.problem.empty())
        std::fprintf(stderr, "murmur-server: no console can attach: the control socket cannot be made (%s).\n",
                     claim.problem.c_str());
    raiseDescriptorLimit();
    if (options.headless) return runHeadless(argc, argv, options, std::move(claim));
    if (std::string problem = murmur::displayProblem(); !problem.empty()) {
        std::fprintf(stderr, "murmur-server: running headless: %s.\n", problem.c_str());
        return runHeadless(argc, argv, options, std::move(claim));
    }
    return runWindow(argc, argv, options, std::move(claim));
}
