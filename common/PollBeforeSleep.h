#pragma once

#include <QObject>

#include <vector>

// A thread that has just sent a message whose answer comes back within a
// fraction of a millisecond (a request to the player, a reply to the page)
// would sleep in its event loop and pay for being woken, which costs more than
// the wait. With PollBeforeSleep installed, the thread's event loop, about to
// block after a message was sent, first looks at the watched descriptors for
// at most the budget; when one becomes readable the loop goes on at once and
// reads it. Without a message sent since the loop last blocked, nothing is
// polled, so an idle thread costs nothing.
class PollBeforeSleep : public QObject
{
    Q_OBJECT

public:
    // The calling thread's instance, made (and hooked to the thread's event
    // dispatcher) on first use with `budgetUs`; null before the thread has
    // an event dispatcher. It lives as long as the thread.
    static PollBeforeSleep *forCurrentThread(int budgetUs);

    // The calling thread's instance if one was made.
    static PollBeforeSleep *currentThread();

    // The owning thread only. Each watch is undone by one unwatch.
    void watch(int fd);
    void unwatch(int fd);
    // How many descriptors are watched.
    std::size_t watchedCount() const { return m_fds.size(); }
    // A message went out on this thread: poll before the next sleep.
    void noteSent() { m_sent = true; }

private:
    explicit PollBeforeSleep(int budgetUs);
    void beforeSleep();

    int m_budgetUs;
    bool m_sent = false;
    std::vector<int> m_fds;
};
