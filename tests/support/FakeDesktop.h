#pragma once

// A desktop for tests: the foreground window and the titles are fields.

#include "NativeWindow.h"

#include <QMap>
#include <QMutex>
#include <QMutexLocker>

class FakeDesktop : public NativeWindow::Desktop
{
public:
    void setForeground(NativeWindow::WindowId window, const QString &title)
    {
        QMutexLocker lock(&m_mutex);
        m_foreground = window;
        m_titles[window] = title;
    }
    int foregroundQueries() const
    {
        QMutexLocker lock(&m_mutex);
        return m_queries;
    }

    NativeWindow::WindowId foregroundWindow() override
    {
        QMutexLocker lock(&m_mutex);
        ++m_queries;
        return m_foreground;
    }
    QString windowTitle(NativeWindow::WindowId window) override
    {
        QMutexLocker lock(&m_mutex);
        return m_titles.value(window);
    }

private:
    mutable QMutex m_mutex;
    NativeWindow::WindowId m_foreground = 0;
    QMap<NativeWindow::WindowId, QString> m_titles;
    int m_queries = 0;
};
