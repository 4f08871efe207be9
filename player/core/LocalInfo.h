#pragma once

#include <QString>
#include <QStringList>

// The client's local settings: where snapshots, recordings and downloads go,
// which file types they use, and the tool's version. Filled on the GUI thread
// from "ClientCfg.ini" and "QuorvelToolVersion.ini" in the program folder.
struct LocalInfo
{
    QString RecPath;
    QString CapPath;
    QString DownPath;
    int CaptureType = 0;
    int RecordType = 0;
    int ImageType = 0; // snapshots: 0 BMP, 1 JPEG
    QString ToolVersion;
    QString ToolDate;
};

class QSettings;

namespace LocalSettings {

// Texts of the settings files are in the system's own 8-bit encoding (the
// locale's; UTF-8 on a UTF-8 desktop), not escaped.
void UseSystemCodec(QSettings &settings);

// "ClientCfg.ini" in `folder`.
QString ClientCfgPath(const QString &folder);

// Reads the three folders and the three file types from "ClientCfg.ini" in
// `folder`. An empty or missing folder becomes its default under `folder`
// ("Device/Capture", "Device/Record", "Device/Download") and is written back;
// an empty or non-numeric type reads as 0.
void LoadClientCfg(const QString &folder, LocalInfo *info);

// What the page saves: the three folders and two of the types.
struct ClientCfg
{
    QString RecPath;
    QString CapPath;
    QString DownPath;
    int RecordType = 0;
    int ImageType = 0;
};

// Writes `cfg` into "ClientCfg.ini" in `folder`; false when the file could
// not be written (read-only file or folder).
bool SaveClientCfg(const QString &folder, const ClientCfg &cfg);

// The alarm kinds of the page's filter, in the order they are stored
// ("alarmtype/<name>").
const QStringList &AlarmTypeNames();

// Reads "Tool/version" and "Tool/date" from "QuorvelToolVersion.ini" in `folder`.
void LoadToolVersion(const QString &folder, LocalInfo *info);

} // namespace LocalSettings
