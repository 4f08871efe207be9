#pragma once

// Helpers shared by the device library's tests.

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace kxtest {

// A fresh library for each test: no scripted devices, errors or log.
inline int freshLogin(const char *address = "10.1.2.3", TRV_DEVICE_INFO *info = nullptr)
{
    kestrix::control::reset();
    TRV_NET_Init(nullptr, nullptr);
    TRV_DEVICE_INFO local;
    int error = 0;
    return TRV_NET_Login(address, 34567, "admin", "", info ? info : &local, &error, TRV_LOGIN_BY_ADDRESS);
}

// ffprobe's view of the first video stream of a file.
inline QJsonObject probeVideo(const QString &path, QString *errors = nullptr)
{
    QProcess p;
    p.start("ffprobe",
        { "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
            "stream=codec_name,width,height,r_frame_rate,nb_read_frames", "-of", "json", path });
    if (!p.waitForFinished(60000))
        return {};
    if (errors)
        *errors = QString::fromUtf8(p.readAllStandardError());
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const auto streams = root.value("streams").toArray();
    return streams.isEmpty() ? QJsonObject() : streams.first().toObject();
}

} // namespace kxtest
