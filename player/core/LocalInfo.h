#pragma once

#include <QString>

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

namespace LocalSettings {

// "ClientCfg.ini" in `folder`.
QString ClientCfgPath(const QString &folder);

// Reads the three folders and the three file types from "ClientCfg.ini" in
// `folder`. An empty or missing folder becomes its default under `folder`
// ("Device/Capture", "Device/Record", "Device/Download") and is written back;
// an empty or non-numeric type reads as 0.
void LoadClientCfg(const QString &folder, LocalInfo *info);

// Reads "Tool/version" and "Tool/date" from "QuorvelToolVersion.ini" in `folder`.
void LoadToolVersion(const QString &folder, LocalInfo *info);

} // namespace LocalSettings
