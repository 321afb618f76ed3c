#include "platform/UnixSignalRelay.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int HandledSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int SignalCount = sizeof(HandledSignals) / sizeof(HandledSignals[0]);

int pipeFds[2] = {-1, -1};
std::atomic<bool> relayActive{false};
struct sigaction previous[SignalCount];

void OnSignal(int signo)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signo);
    // Non-blocking: when the pipe is full a request is pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[0], &byte, 1);
    errno = savedErrno;
}

void SetFlags(int fd)
{
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}
} // namespace

UnixSignalRelay::UnixSignalRelay(QObject *parent)
    : QObject(parent)
{
    bool expected = false;
    if (!relayActive.compare_exchange_strong(expected, true)) {
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pipeFds) != 0) {
        relayActive = false;
        return;
    }
    SetFlags(pipeFds[0]);
    SetFlags(pipeFds[1]);
    notifier = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UnixSignalRelay::OnReadable);

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < SignalCount; ++i) {
        ::sigaction(HandledSignals[i], &action, &previous[i]);
        // A signal the starter chose to ignore (nohup) stays ignored.
        if (previous[i].sa_handler == SIG_IGN) {
            ::sigaction(HandledSignals[i], &previous[i], nullptr);
        }
    }
    installed = true;
}

UnixSignalRelay::~UnixSignalRelay()
{
    if (!installed) {
        return;
    }
    for (int i = 0; i < SignalCount; ++i) {
        ::sigaction(HandledSignals[i], &previous[i], nullptr);
    }
    delete notifier;
    notifier = nullptr;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
    relayActive = false;
}

void UnixSignalRelay::OnReadable()
{
    char buffer[64];
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(pipeFds[1], buffer, sizeof(buffer));
        if (got > 0) {
            any = true;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    if (any) {
        emit terminateRequested();
    }
}
