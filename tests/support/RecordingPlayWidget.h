#pragma once

// A window side for the request manager's tests: answers from fields and
// records every call with its arguments and the thread it ran on.

#include "PlayWidgetFacade.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QThread>
#include <QVariant>

// Emits the window's signals in place of the real window.
class PlayWidgetSignals : public QObject
{
    Q_OBJECT

signals:
    void curWndIndexSig(int nPageId, int nWndIndex);
    void changePTZELectPage();
};

class RecordingPlayWidget : public PlayWidgetFacade
{
public:
    struct Call
    {
        QString name;
        QVariantList args;
        Qt::HANDLE thread = nullptr;
    };

    // Answers.
    int page = 1;
    int curWnd = 2;
    int curChn = 3;
    int wndChn[4] = { 0, -1, 5, -1 };
    float playTime[4] = { 1.5f, 2.0f, 2.5f, 3.0f };
    QList<QPair<int, int>> bufInfo; // answers of GetPlaybackBufInfo, in turn
    quint64 renderWnd = 0;
    int liveWndChn = 7; // GetWndChn on the live page
    int color[4] = { 11, 22, 33, 44 };
    bool sound = true;
    bool zoom = false;
    int original = 1;
    int playState = 5;
    bool playbackStatus[3] = { true, false, true }; // recording, zoom, sound

    PlayWidgetSignals emitter;

    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    QStringList names() const
    {
        QStringList out;
        for (const Call &c : calls())
            out.append(c.name);
        return out;
    }
    // The calls of one method: "Name(arg,arg)".
    QStringList callsOf(const QString &name) const
    {
        QStringList out;
        for (const Call &c : calls()) {
            if (c.name != name)
                continue;
            QStringList args;
            for (const QVariant &a : c.args)
                args.append(a.toString());
            out.append(name + QLatin1Char('(') + args.join(QLatin1Char(',')) + QLatin1Char(')'));
        }
        return out;
    }
    // Calls described as "Name(args)", in order.
    QStringList described() const
    {
        QStringList out;
        for (const Call &c : calls()) {
            QStringList args;
            for (const QVariant &a : c.args)
                args.append(a.toString());
            out.append(c.name + QLatin1Char('(') + args.join(QLatin1Char(',')) + QLatin1Char(')'));
        }
        return out;
    }
    bool allOnThread(Qt::HANDLE thread) const
    {
        for (const Call &c : calls()) {
            if (c.thread != thread)
                return false;
        }
        return true;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
    }

    int GetCurPageIndex() override { return record("GetCurPageIndex", {}, page); }
    int GetCurWndIndex() override { return record("GetCurWndIndex", {}, curWnd); }
    int GetCurWndChn(int type) override { return record("GetCurWndChn", { type }, curChn); }
    int GetWndChn(int p, int wnd) override
    {
        return record(
            "GetWndChn", { p, wnd }, p == 0 ? liveWndChn : (wnd >= 0 && wnd < 4 ? wndChn[wnd] : -1));
    }
    float GetPlayTime(int wnd) override
    {
        record("GetPlayTime", { wnd }, 0);
        return playTime[wnd];
    }
    void GetPlaybackBufInfo(int wnd, int *yuv, int *buf) override
    {
        record("GetPlaybackBufInfo", { wnd }, 0);
        QMutexLocker lock(&m_mutex);
        const auto v = bufInfo.size() > 1 ? bufInfo.takeFirst() : bufInfo.value(0);
        *yuv = v.first;
        *buf = v.second;
    }
    void GetColor(int channel, int *b, int *c, int *s, int *h) override
    {
        record("GetColor", { channel }, 0);
        *b = color[0];
        *c = color[1];
        *s = color[2];
        *h = color[3];
    }
    bool IsSoundWnd(int p, int index) override { return record("IsSoundWnd", { p, index }, sound); }
    bool IsDigitalZoom(int p, int index) override { return record("IsDigitalZoom", { p, index }, zoom); }
    int GetPlayOriginalState(int channel) override
    {
        return record("GetPlayOriginalState", { channel }, original);
    }
    int GetPlayState(int p, int index) override { return record("GetPlayState", { p, index }, playState); }
    void GetPlaybackWndStatus(int wnd, bool *recording, bool *z, bool *s) override
    {
        record("GetPlaybackWndStatus", { wnd }, 0);
        *recording = playbackStatus[0];
        *z = playbackStatus[1];
        *s = playbackStatus[2];
    }

    quint64 ErgodicAllChild(quint64 browserWnd, int browseType, int depth) override
    {
        record("ErgodicAllChild", { browserWnd, browseType, depth }, 0);
        return renderWnd;
    }
    void SetBrowserWnd(quint64 browserWnd, quint64 render, const QString &title, int browseType) override
    {
        record("SetBrowserWnd", { browserWnd, render, title, browseType }, 0);
    }
    void SetSkin(const QString &skin) override { record("SetSkin", { skin }, 0); }
    void SetDeviceInfo(int loginId, bool ipc) override { record("SetDeviceInfo", { loginId, ipc }, 0); }
    void SetPageIndex(int p) override { record("SetPageIndex", { p }, 0); }
    int ChangeSplit(int layoutIndex) override { return record("ChangeSplit", { layoutIndex }, 0); }
    void StopPlayback(int wnd) override { record("StopPlayback", { wnd }, 0); }
    void PreviewStop(int channel) override { record("PreviewStop", { channel }, 0); }
    void ColorPreviewStop() override { record("ColorPreviewStop", {}, 0); }
    void onWidgetStatuChange(int type, int left, int top, int width, int height) override
    {
        record("onWidgetStatuChange", { type, left, top, width, height }, 0);
    }
    void releaseInstance() override { record("releaseInstance", {}, 0); }
    QObject *signalSource() override { return &emitter; }

private:
    template<class T> T record(const char *name, QVariantList args, T value)
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append({ QString::fromLatin1(name), std::move(args), QThread::currentThreadId() });
        return value;
    }

    mutable QMutex m_mutex;
    QList<Call> m_calls;
};
