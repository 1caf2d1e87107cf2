#include "ui/Signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace murmur {
namespace {

int wakePipe[2] = {-1, -1};

void wake(int) {
    char byte = 1;
    [[maybe_unused]] auto n = ::write(wakePipe[1], &byte, 1);
}

}  // namespace

void onTerminationSignal(std::function<void()> handler) {
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, handler = std::move(handler)] {
        char buffer[16];
        while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
        }
        notifier->setEnabled(false);
        handler();
    });
    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace murmur
