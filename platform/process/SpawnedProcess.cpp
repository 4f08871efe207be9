#include "SpawnedProcess.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

int openPidFd(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

int signalPidFd(int pidFd, int signal)
{
    return int(::syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0));
}

// Owns what posix_spawn needs and frees it on every path.
struct SpawnSetup
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

} // namespace

SpawnedProcess::SpawnedProcess(QObject *parent)
    : QObject(parent)
{ }

SpawnedProcess::~SpawnedProcess()
{
    if (isRunning())
        terminate(-1);
}

bool SpawnedProcess::start(
    const QString &program, const QStringList &arguments, const QString &workingDirectory)
{
    if (m_started) {
        m_error = QStringLiteral("the process was started before");
        return false;
    }
    m_started = true;
    const QByteArray path = QFile::encodeName(program);
    const QByteArray directory = QFile::encodeName(workingDirectory);
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()) + 1);
    encoded.push_back(path);
    for (const QString &argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!directory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&setup.actions, directory.constData());
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    const int result
        = ::posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (result != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(result));
        return false;
    }
    m_pid = pid;
    m_pidFd = openPidFd(pid);
    if (m_pidFd < 0) {
        // Without a descriptor the child cannot be watched: it is ended now.
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        m_error = QStringLiteral("cannot watch the process: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_notifier = new QSocketNotifier(m_pidFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { reap(); });
    return true;
}

void SpawnedProcess::kill()
{
    if (isRunning())
        signalPidFd(m_pidFd, SIGKILL);
}

bool SpawnedProcess::terminate(int msecs)
{
    kill();
    return waitForFinished(msecs);
}

bool SpawnedProcess::waitForFinished(int msecs)
{
    if (!isRunning())
        return true;
    pollfd ended { m_pidFd, POLLIN, 0 };
    int n;
    do {
        n = ::poll(&ended, 1, msecs);
    } while (n < 0 && errno == EINTR);
    return reap() || !isRunning();
}

bool SpawnedProcess::reap()
{
    if (!isRunning())
        return false;
    siginfo_t info {};
    if (::waitid(P_PIDFD, id_t(m_pidFd), &info, WEXITED | WNOHANG) != 0 || info.si_pid == 0)
        return false;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_pidFd);
    m_pidFd = -1;
    const bool crashed = info.si_code != CLD_EXITED;
    emit finished(info.si_status, crashed);
    return true;
}
