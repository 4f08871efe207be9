#pragma once

#include "PlaybackFile.h"
#include "RequestContext.h"

#include <cstdint>
#include <map>
#include <vector>

// Downloads (MainType 5, SubTypes 39 and 46): the device's recordings and
// pictures fetched one file at a time into the download folder, and the
// recordings converted to AVI one at a time afterwards. Worker thread,
// except the conversion's progress callback.
class DownloadTopic
{
public:
    explicit DownloadTopic(RequestContext &context);

    // SubType 39: starts downloading the request's files; fills the reply.
    void downloadFiles(const Request &request, Json::Value &reply);
    // SubType 46 and leaving the playback page: ends the batch.
    void cancelDownload();
    // Closes the file in progress (logout).
    void closeDownload();
    // True from the start of a file download to the end of its batch.
    bool running() const { return m_downloadRecord.running != 0; }
    int &downloadHandle() { return m_lDownloadHandle; }

    // A download's position report: kind 1 records, 2 pictures.
    void OnProgressCallback(int handle, int total, int current, int kind);
    // A download's position in per mille: 1000 for the finished mark -1,
    // else current / total clamped to 0..1000; -1 without a total.
    static int DownloadPosition(int total, int current);

    // The picture of the last picture download, which the logout deletes.
    void setTempFilePath(const QString &path) { m_strTempFilePath = path; }
    QString tempFilePath() const { return m_strTempFilePath; }
    // Deletes the picture (logout).
    void releaseTempFile();

    // The play library's conversion progress; `user` names the batch.
    static void ConvertFilePosCallback(int64_t current, int64_t total, void *user);

private:
    // Starts the download of the current file, or finishes the batch: 1 when
    // a download started or nothing was left to do, -1 when the folder is
    // missing or the device refused.
    int StartDownload();
    // A file of the batch is complete: the next one, or the end of the batch.
    void downloadNextFile();
    void onConvertNextFile();
    void finishDownloadBatch(const QString &folder);

    struct DownloadList
    {
        int kind = 1;
        int fileType = 0;
        int index = 0;
        std::vector<DownloadFileInfo> files;
        bool cancel = false;
        // Conversion of the batch's recordings: download index -> file name.
        std::map<int, QString> converted;
        int totalConvert = 0;
        int curConvert = 0;
        // Counts batches, so that late conversion callbacks of an ended one are known.
        quint64 batch = 0;
        bool converting = false;
    };

    RequestContext &m_ctx;
    DownloadList m_downloadList;
    DownloadRecord m_downloadRecord;
    int m_lDownloadHandle = 0;
    QString m_strTempFilePath;
};
