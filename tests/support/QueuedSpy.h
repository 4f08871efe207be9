#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QList>
#include <QObject>
#include <QVariant>

// Records a signal that is emitted on another thread. QSignalSpy appends on
// the emitting thread while the test reads on its own, a data race; this one
// records on the test's thread, through its event loop. What was emitted
// before something the test has seen (a reply it read) is there once
// deliver() has run; QTRY_* waits see it as they spin the loop.
class QueuedSpy : public QObject, public QList<QVariantList>
{
public:
    template<typename Sender, typename... Args>
    QueuedSpy(const Sender *sender, void (Sender::*signal)(Args...))
    {
        connect(
            sender, signal, this,
            [this](Args... args) { append(QVariantList { QVariant::fromValue(args)... }); },
            Qt::QueuedConnection);
    }

    // Records what was emitted so far.
    void deliver() { QCoreApplication::sendPostedEvents(this, QEvent::MetaCall); }
};
