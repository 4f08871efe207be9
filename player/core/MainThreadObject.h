#pragma once

#include <QObject>

#include <functional>

// Lives on the GUI thread and runs the function objects that other threads
// send it through queued or blocking-queued signals.
class MainThreadObject : public QObject
{
    Q_OBJECT

public:
    static MainThreadObject *instance();

public slots:
    void onReturnToMainThread(std::function<void(void)> callback);

private:
    MainThreadObject() = default;
};
