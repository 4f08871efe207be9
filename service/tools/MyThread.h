#pragma once

#include <QThread>

// A thread that runs one plain function once per start: the owner stores the
// function and its argument, starts the thread, makes the function return
// (for example by shutting down the socket it waits on) and then waits for
// the thread. The destructor waits too, so a running callback never outlives
// its thread object.
class CMyThread : public QThread
{
public:
    using Callback = void (*)(void *);

    explicit CMyThread(QObject *parent = nullptr);
    ~CMyThread() override;

    // Called before start(); not while the thread runs.
    void setCallback(Callback callback, void *argument);

protected:
    void run() override;

private:
    Callback m_callback = nullptr;
    void *m_argument = nullptr;
};
