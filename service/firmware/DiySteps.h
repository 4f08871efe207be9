#pragma once

#include <QObject>
#include <QThreadPool>

#include <deque>
#include <functional>
#include <map>

class CDiyFirmware;

// The firmware customiser's long steps (unpacking and analysing a package,
// checking and placing a logo, writing the output package) run here, on
// workers: one per running step, at most kMaxWorkers at once (further steps
// wait for a free one), so that the thread that relays every page never waits
// for them. A session's steps run one after the other, in the order they were
// started. A step's end is reported on the thread this object lives in (that
// of its parent).
//
// All calls but the steps' work are for that thread only.
class DiySteps : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxWorkers = 4;

    explicit DiySteps(CDiyFirmware *firmware, QObject *parent = nullptr, int maxWorkers = kMaxWorkers);
    // Stops every session that has a step (its extractor is killed and
    // reaped) and waits for the workers; no step's end is reported then.
    ~DiySteps() override;

    // Runs `work` for the session on a worker, then `done` on this object's
    // thread: `done(false)` when the work ran, `done(true)` when the session
    // was stopped meanwhile (its work may have been cut short or not have run).
    void start(int nSessionID, std::function<void()> work, std::function<void(bool stopped)> done);
    // True while the session has a step running or waiting.
    bool busy(int nSessionID) const;
    // Stops the session's steps: the running one's extractor ends, waiting
    // ones do not run; each still reports its end, stopped. False when the
    // session had no step.
    bool stop(int nSessionID);
    // Waits for every step started so far to end (their ends are reported
    // later, by the event loop).
    void waitForWorkers();

private:
    struct Step
    {
        std::function<void()> work;
        std::function<void(bool)> done;
    };
    struct Session
    {
        std::deque<Step> steps; // the first one is running
        bool stopped = false;
    };
    void runFirst(int nSessionID);
    void finished(int nSessionID);

    CDiyFirmware *m_firmware;
    QThreadPool *m_workers; // a child: it moves to this object's thread with it
    std::map<int, Session> m_sessions;
};
