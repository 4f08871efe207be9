#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace QuitOnSignal {

namespace {

int g_pipe[2] = { -1, -1 };

void onSignal(int signalNumber)
{
    const int saved = errno;
    const char byte = char(signalNumber);
    // A full pipe already holds a wake-up: the byte may be dropped.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool install(std::initializer_list<int> signalNumbers)
{
    if (g_pipe[0] >= 0 || !QCoreApplication::instance())
        return false;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    const std::vector<int> numbers(signalNumbers);
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, numbers] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) { }
        notifier->setEnabled(false);
        // The shutdown has begun; another signal is not waited for.
        for (const int number : numbers)
            std::signal(number, SIG_DFL);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : numbers) {
        if (::sigaction(number, &action, nullptr) != 0)
            return false;
    }
    return true;
}

} // namespace QuitOnSignal
