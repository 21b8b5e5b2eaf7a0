#include "cli/Interrupt.h"

#include <QCoreApplication>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>

#include "core/support/SystemError.h"

namespace quaylet {
namespace {

// The handler may only write: the main thread's event loop reads the byte and does the rest.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    // Nothing can be done in a signal handler about a full pipe: one byte is enough.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

Interrupt::Interrupt() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        throw systemError("Couldn’t watch for Ctrl-C");
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Interrupt::take);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

Interrupt::~Interrupt() {
    std::signal(SIGINT, SIG_DFL);
    delete notifier_;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
}

void Interrupt::take() {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
    if (source_.stop_requested()) {
        return;  // a second Ctrl-C: the work is already unwinding
    }
    emit received();
    source_.request_stop();
}

void Interrupt::await(const QFuture<void>& future) const {
    if (!future.isFinished()) {
        QFuture<void>(future).then(qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    if (source_.stop_requested()) {
        throw Interrupted();
    }
}

}  // namespace quaylet
