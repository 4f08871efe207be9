#include "MyThread.h"

#include <QDebug>

#include <exception>

CMyThread::CMyThread(QObject *parent)
    : QThread(parent)
{ }

CMyThread::~CMyThread()
{
    if (isRunning()) {
        exit(0);
        wait();
    }
    m_callback = nullptr;
}

void CMyThread::setCallback(Callback callback, void *argument)
{
    m_callback = callback;
    m_argument = argument;
}

void CMyThread::run()
{
    if (!m_callback)
        return;
    try {
        m_callback(m_argument);
    } catch (const std::exception &e) {
        qWarning() << "CMyThread::run callback failed:" << e.what();
    } catch (...) {
        qWarning() << "CMyThread::run callback failed";
    }
}
