// Downloads (MainType 5, SubTypes 39 and 46): the device's recordings and
// pictures fetched one file at a time into the download folder, and the
// recordings converted to AVI one at a time afterwards.

#include "DownloadTopic.h"

#include "LightWeightLog.h"
#include "LocalInfo.h"
#include "PlayWidgetFacade.h"
#include "PlaybackText.h"
#include "PlaybackTopic.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "TextField.h"
#include "common/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <stdexcept>

namespace {

constexpr int kNextFileWaitMs = 200;

// Recordings of record type AVI (2) and file type 0 are converted after the download.
bool convertsToAvi(int kind, int recordType, int fileType)
{
    return kind == PositionUser::RecordDownload && recordType == 2 && fileType == 0;
}

QString aviTarget(QString source)
{
    return source.replace(QStringLiteral("_for_avi.h265x"), QStringLiteral(".avi"));
}

} // namespace

DownloadTopic::DownloadTopic(RequestContext &context)
    : m_ctx(context)
{ }

void DownloadTopic::downloadFiles(const Request &request, Json::Value &reply)
{
    // A running conversion chain belongs to the old list: it ends here, and
    // its late callbacks are known by the batch number.
    const quint64 batch = m_downloadList.batch + 1;
    m_downloadList = DownloadList();
    m_downloadList.batch = batch;

    int channel = 0;
    int stream = 0;
    int fileType = 0;
    if (!JsonUtil::convertInt(JsonUtil::member(request, "Channel"), &channel)
        || !JsonUtil::convertInt(JsonUtil::member(request, "Stream"), &stream)
        || !JsonUtil::convertInt(JsonUtil::member(request, "FileType"), &fileType))
        throw std::invalid_argument("FileInfo");
    m_downloadList.kind = JsonUtil::stringOr(request, "Event") == QLatin1String("PicturePlay")
        ? PositionUser::PictureDownload
        : PositionUser::RecordDownload;
    m_downloadList.fileType = fileType;
    bool valid = channel >= 0;
    const Json::Value &infos = JsonUtil::member(request, "FileInfo");
    if (infos.isArray()) {
        for (Json::Value::ArrayIndex i = 0; i < infos.size(); ++i) {
            const Json::Value &e = infos[i];
            DownloadFileInfo file;
            file.channel = channel;
            file.stream = stream;
            file.fileSize = PlaybackText::fileLength(JsonUtil::stringOr(e, "FileLength").toUtf8());
            TextField::copy(file.fileName, JsonUtil::stringOr(e, "FileName").toUtf8());
            const QByteArray begin = JsonUtil::stringOr(e, "BeginTime").toUtf8();
            const QByteArray end = JsonUtil::stringOr(e, "EndTime").toUtf8();
            // The times become part of file names: digits only.
            if (!PlaybackText::isTime(begin) || !PlaybackText::isTime(end))
                valid = false;
            TextField::copy(file.beginTime, begin);
            TextField::copy(file.endTime, end);
            m_downloadList.files.push_back(file);
        }
    }

    LocalInfo info;
    LocalSettings::LoadClientCfg(RequestContext::appFolder(), &info);
    const QString folder = info.DownPath;
    reply["DownPath"] = folder.toStdString();
    if (m_downloadList.files.empty() || !valid) {
        m_downloadList.files.clear();
        reply["Ret"] = Ret::Missing;
        return;
    }
    QDir().mkpath(folder);
    m_downloadList.cancel = false;
    const int started = StartDownload();
    if (started < 1) {
        m_downloadList.files.clear();
        m_downloadRecord.running = 0;
    }
    reply["Ret"] = started >= 1 ? Ret::Ok : started == -1 ? Ret::DownloadFailed : Ret::Failed;
}

void DownloadTopic::cancelDownload()
{
    m_downloadList.cancel = true;
    if (m_lDownloadHandle)
        CQNConnect::GetInstance()->CloseHandle(m_lDownloadHandle);
    m_lDownloadHandle = 0;
    m_downloadList.converted.clear();
    m_downloadList.files.clear();
    m_downloadList.converting = false;
    m_downloadRecord.running = 0;
}

int DownloadTopic::StartDownload()
{
    LocalInfo info;
    bool read = false;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
        info = widget->LoadLocalInfo();
        read = true;
    });
    if (!read)
        LocalSettings::LoadClientCfg(RequestContext::appFolder(), &info);
    const QString folder = info.DownPath;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return -1;

    DownloadList &list = m_downloadList;
    const bool avi = convertsToAvi(list.kind, info.RecordType, list.fileType);
    if (list.index >= int(list.files.size())) {
        list.totalConvert = int(list.files.size());
        list.index = 0;
        list.files.clear();
        if (avi) {
            list.curConvert = 0;
            list.converting = true;
            onConvertNextFile();
        } else {
            finishDownloadBatch(folder);
        }
        return 1;
    }

    const DownloadFileInfo &file = list.files[size_t(list.index)];
    if (file.channel < 0)
        return 1;
    const QByteArray name = TextField::read(file.fileName);
    const QString extension = name.contains(".jpg") ? QStringLiteral(".jpg") : QStringLiteral(".h265x");
    if (m_lDownloadHandle) {
        CQNConnect::GetInstance()->CloseHandle(m_lDownloadHandle);
        m_lDownloadHandle = 0;
    }

    m_downloadRecord.running = 1;
    m_downloadRecord.sequence = m_ctx.mainDevice().sequence;
    m_downloadRecord.tag.kind = list.kind;
    m_downloadRecord.channel = file.channel;

    QString target;
    if (list.kind == PositionUser::PictureDownload) {
        target = folder + QStringLiteral("/temp.jpg");
        QFile::remove(target);
        m_strTempFilePath = target;
    } else {
        target = QStringLiteral("%1/%2_%3_%4%5%6")
                     .arg(folder)
                     .arg(file.channel + 1, 2, 10, QLatin1Char('0'))
                     .arg(PlaybackText::beginPart(TextField::read(file.beginTime)),
                         PlaybackText::endPart(TextField::read(file.endTime)),
                         avi ? QStringLiteral("_for_avi") : QString(), extension);
        list.converted[list.index] = target;
    }
    const int handle = CQNConnect::GetInstance()->StartDownLoad(m_ctx.mainDevice().loginId, file,
        QFile::encodeName(target), &PlaybackTopic::PlaybackProgressCallback, &m_downloadRecord);
    if (handle <= 0) {
        m_lDownloadHandle = 0;
        list.converted.erase(list.index);
        return -1;
    }
    m_lDownloadHandle = handle;
    return 1;
}

void DownloadTopic::downloadNextFile()
{
    if (m_downloadList.files.empty())
        return; // no batch runs
    QThread::msleep(kNextFileWaitMs);
    for (;;) {
        ++m_downloadList.index;
        if (StartDownload() != -1)
            return;
        if (m_downloadList.files.empty() || m_downloadList.index >= int(m_downloadList.files.size())) {
            // Not even the end can be reported: the folder is gone.
            cancelDownload();
            return;
        }
        // A file that the device refuses is skipped, so that the batch ends.
        playerLog("CPluginManage::StartDownload", QStringLiteral("skip file %1").arg(m_downloadList.index));
    }
}

void DownloadTopic::finishDownloadBatch(const QString &folder)
{
    m_downloadRecord.running = 0;
    Json::Value event = pageEvent(PageEvent::DownloadFinished);
    event["Data"]["DownPath"] = folder.toStdString();
    m_ctx.sendEvent(event);
}

void DownloadTopic::onConvertNextFile()
{
    DownloadList &list = m_downloadList;
    for (;;) {
        playerLog("CPluginManage::onConvertNextFile",
            QStringLiteral("m_nTotalConvertFileNum:%1<----------------->m_nCurConvertFileNum:%2")
                .arg(list.totalConvert)
                .arg(list.curConvert));
        if (list.cancel) {
            list.converted.clear();
            list.converting = false;
            m_downloadRecord.running = 0;
            return;
        }
        if (list.curConvert >= 1) {
            // The source just converted goes only when its AVI file is there.
            const auto done = list.converted.find(list.curConvert - 1);
            if (done != list.converted.end() && !done->second.isEmpty()) {
                const QString source = done->second;
                playerLog("CPluginManage::onConvertNextFile", QStringLiteral("delete file:") + source);
                if (QFileInfo(aviTarget(source)).size() > 0 && QFile::exists(source)) {
                    if (QFile::remove(source))
                        playerLog("CPluginManage::onConvertNextFile",
                            QStringLiteral("delete file successful:") + source);
                    else
                        playerLog("CPluginManage::onConvertNextFile",
                            QStringLiteral("delete file faild:") + source);
                }
            }
            if (list.totalConvert > 0) {
                Json::Value event = pageEvent(PageEvent::DownloadProgress);
                event["Data"]["Pos"] = list.curConvert * 1000 / list.totalConvert;
                m_ctx.sendEvent(event);
            }
        }
        if (list.curConvert >= list.totalConvert) {
            list.curConvert = 0;
            list.totalConvert = 0;
            list.converted.clear();
            list.converting = false;
            LocalInfo info;
            m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { info = widget->LoadLocalInfo(); });
            finishDownloadBatch(info.DownPath);
            return;
        }
        const int number = list.curConvert++;
        const auto entry = list.converted.find(number);
        const QString source = entry == list.converted.end() ? QString() : entry->second;
        if (source.isEmpty())
            continue;
        bool started = false;
        void *user = reinterpret_cast<void *>(quintptr(list.batch));
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
            started = widget->ChangeFileFormat(
                source, aviTarget(source), 2, &DownloadTopic::ConvertFilePosCallback, user);
        });
        if (started) {
            playerLog("CPluginManage::onConvertNextFile",
                QStringLiteral("m_nCurConvertFileNum:%1<------------------>successful").arg(list.curConvert));
            return; // the conversion's last progress call goes on
        }
        playerLog("CPluginManage::onConvertNextFile",
            QStringLiteral("m_nCurConvertFileNum:%1 <------------------>failed").arg(list.curConvert));
        // Its source stays: only a finished conversion removes one.
        list.converted.erase(number);
    }
}

void DownloadTopic::ConvertFilePosCallback(int64_t current, int64_t total, void *user)
{
    playerLog("CPluginManage::ConvertFilePosCallback",
        QStringLiteral("CurrentPos: %1 <--------------------> TotoalPos: %2").arg(current).arg(total));
    CPluginManage *manage = CPluginManage::instance();
    if (!manage || current != total)
        return;
    DownloadTopic *self = &manage->downloads();
    const quint64 batch = quint64(reinterpret_cast<quintptr>(user));
    manage->context().RunInWorkerThread([self, batch] {
        if (batch != self->m_downloadList.batch || !self->m_downloadList.converting)
            return;
        self->onConvertNextFile();
    });
}

int DownloadTopic::DownloadPosition(int total, int current)
{
    if (total < 1)
        return -1;
    if (current == -1)
        return 1000;
    // In 64 bits: a file past 2 MiB would overflow current * 1000 in 32.
    return int(qBound<qint64>(0, qint64(current) * 1000 / total, 1000));
}

void DownloadTopic::OnProgressCallback(int handle, int total, int current, int kind)
{
    Q_UNUSED(handle)
    if ((kind != 1 && kind != 2) || !m_lDownloadHandle || total < 1)
        return;
    const int pos = DownloadPosition(total, current);
    if (kind == 1) {
        Json::Value event = pageEvent(PageEvent::DownloadProgress);
        event["Data"]["Pos"] = pos;
        m_ctx.sendEvent(event);
    }
    if (current != -1)
        return;
    // The file is complete.
    if (CQNConnect *connect = CQNConnect::GetInstance())
        connect->CloseHandle(m_lDownloadHandle);
    m_lDownloadHandle = 0;
    if (kind == 2 && !m_strTempFilePath.isEmpty() && QFile::exists(m_strTempFilePath)) {
        const QString picture = m_strTempFilePath;
        m_ctx.RunOnWindow(
            [picture](PlaybackWindowFacade *widget) { widget->SetPlaybackBackground(picture); });
    }
    downloadNextFile();
}

void DownloadTopic::closeDownload()
{
    if (m_lDownloadHandle) {
        CQNConnect::GetInstance()->CloseHandle(m_lDownloadHandle);
        m_lDownloadHandle = 0;
    }
}

void DownloadTopic::releaseTempFile()
{
    if (!m_strTempFilePath.isEmpty() && QFile::exists(m_strTempFilePath))
        QFile::remove(m_strTempFilePath);
    m_strTempFilePath.clear();
}
