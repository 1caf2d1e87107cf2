#include "ui/Signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace murmur {
namespace {

int wakePipe[2] = {-1, -1};

void wake(int signal) {
    auto byte = static_cast<char>(signal);
    [[maybe_unused]] auto n = ::write(wakePipe[1], &byte, 1);
}

}  // namespace

void onSignals(std::function<void()> terminate, std::function<void()> reload) {
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, terminate = std::move(terminate), reload = std::move(reload)] {
                         char received[64];
                         ssize_t n = ::read(wakePipe[0], received, sizeof received);
                         for (ssize_t i = 0; i < n; ++i) {
                             if (received[i] != SIGHUP) {
                                 notifier->setEnabled(false);
                                 terminate();
                                 return;
                             }
                             reload();
                         }
                     });
    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace murmur
