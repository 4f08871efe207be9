#include "RequestTasks.h"

#include "HttpClient.h"
#include "HttpReply.h"
#include "HttpRequest.h"
#include "PageFiles.h"
#include "common/CancelFlag.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>

#include <memory>
#include <mutex>

namespace {

constexpr int kInfoTimeoutMs = 5000;
constexpr int kPackageTimeoutMs = 15000;

// One lock per style folder, held while a check compares versions, installs
// a package or opens the file to serve: concurrent checks of one style would
// share the package and staging names. Fetching the server's version and
// sending the file happen outside it, so no check waits for another's server
// or page.
std::shared_ptr<std::mutex> styleLock(const QString &style)
{
    static std::mutex mapMutex;
    static QHash<QString, std::shared_ptr<std::mutex>> locks;
    std::lock_guard<std::mutex> lock(mapMutex);
    auto &entry = locks[style];
    if (!entry)
        entry = std::make_shared<std::mutex>();
    return entry;
}

QString randomQuery()
{
    return QStringLiteral("?random=%1").arg(QRandomGenerator::global()->bounded(1 << 30));
}

} // namespace

CCheckUpdateStateTask::CCheckUpdateStateTask(
    const QString &webRoot, const QString &styleName, const QString &appDir, CancelFlag *cancel)
    : m_webRoot(webRoot)
    , m_styleName(styleName)
    , m_appDir(appDir)
    , m_cancel(cancel)
{ }

QString CCheckUpdateStateTask::serverBase(const QString &appDir)
{
    QSettings settings(appDir + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat);
    QString base = settings.value(QStringLiteral("Tool/webFileAddr")).toString();
    // No address, no update: whatever listened at some built-in address
    // would otherwise decide the page the browser gets.
    if (base.isEmpty())
        return QString();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base;
}

int CCheckUpdateStateTask::parseVersion(const QString &text, UpdateInfo *info, bool versionOnly)
{
    bool hasVersion = false;
    bool hasMd5 = false;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        int at = line.indexOf(QLatin1String("Version:"), 0, Qt::CaseInsensitive);
        if (at >= 0) {
            info->version = line.mid(at + 8).trimmed();
            hasVersion = true;
        }
        at = line.indexOf(QLatin1String("Md5:"), 0, Qt::CaseInsensitive);
        if (at >= 0) {
            info->md5 = line.mid(at + 4).trimmed();
            hasMd5 = true;
        }
    }
    const bool ok = versionOnly ? (hasVersion && !hasMd5) : (hasVersion && hasMd5);
    return ok ? Ret::Ok : Ret::UpdateBadVersionText;
}

int CCheckUpdateStateTask::compareVersions(const QString &a, const QString &b)
{
    static const QRegularExpression number(QStringLiteral("\\d+"));
    auto numbers = [](const QString &text) {
        QList<qulonglong> out;
        auto it = number.globalMatch(text);
        while (it.hasNext())
            out.append(it.next().captured(0).left(18).toULongLong());
        return out;
    };
    const QList<qulonglong> x = numbers(a);
    const QList<qulonglong> y = numbers(b);
    for (int i = 0; i < qMax(x.size(), y.size()); ++i) {
        const qulonglong p = i < x.size() ? x[i] : 0;
        const qulonglong q = i < y.size() ? y[i] : 0;
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

int CCheckUpdateStateTask::getRemoteInfoUrl(const QString &styleName, UpdateInfo *info)
{
    const QString url = serverBase(m_appDir) + styleName + QLatin1Char('/') + styleName
        + QStringLiteral("Info.txt") + randomQuery();
    CHttpClient client(m_cancel);
    QString text;
    const int code = client.getString(url, text, kInfoTimeoutMs);
    if (code != CHttpClient::Ok)
        return Ret::UpdateHttpFailed + code;
    return parseVersion(text, info, false);
}

int CCheckUpdateStateTask::getUpdateZipUrl(const QString &styleName, QString *zipPath)
{
    const QString url = serverBase(m_appDir) + styleName + QLatin1Char('/') + styleName
        + QStringLiteral(".zip") + randomQuery();
    const QString path = m_webRoot + QLatin1Char('/') + styleName + QStringLiteral(".zip");
    CHttpClient client(m_cancel);
    const int code = client.downloadFile(url, path, kPackageTimeoutMs);
    if (code != CHttpClient::Ok)
        return Ret::UpdateHttpFailed + code;
    *zipPath = path;
    return Ret::Ok;
}

int CCheckUpdateStateTask::openLocalFile(const QString &fileName, QFile *file) const
{
    const QString folder = m_webRoot + QLatin1Char('/') + m_styleName;
    const QFileInfo info(fileName);
    if (!info.exists())
        return 120002;
    const QString real = HttpRequest::confinedPath(fileName, folder);
    if (real.isEmpty())
        return 120002;
    if (!QFileInfo(real).isFile())
        return 120003;
    file->setFileName(real);
    return file->open(QIODevice::ReadOnly) ? Ret::Ok : 120004;
}

int CCheckUpdateStateTask::update(const UpdateInfo &server)
{
    QString zipPath;
    int code = getUpdateZipUrl(m_styleName, &zipPath);
    if (code != Ret::Ok)
        return code;
    if (PageFiles::fileMd5Hex(zipPath).compare(server.md5, Qt::CaseInsensitive) != 0)
        return Ret::UpdateMd5Mismatch;

    // The new page is unpacked beside the installed one and takes its place
    // by renames only when it unpacked whole.
    const QString installed = m_webRoot + QLatin1Char('/') + m_styleName;
    const QString staging = m_webRoot + QStringLiteral("/.") + m_styleName + QStringLiteral(".staging");
    const QString old = m_webRoot + QStringLiteral("/.") + m_styleName + QStringLiteral(".old");
    PageFiles::removeDirectory(staging, true);
    if (!PageFiles::unzipFile(zipPath, staging)) {
        PageFiles::removeDirectory(staging, true);
        return Ret::UpdateUnpackFailed;
    }
    PageFiles::removeDirectory(old, true);
    const bool hadInstalled = QFileInfo::exists(installed);
    if (hadInstalled && !QDir().rename(installed, old)) {
        PageFiles::removeDirectory(staging, true);
        return Ret::UpdateInstallFailed;
    }
    if (!QDir().rename(staging, installed)) {
        if (hadInstalled)
            QDir().rename(old, installed);
        PageFiles::removeDirectory(staging, true);
        return Ret::UpdateInstallFailed;
    }
    PageFiles::removeDirectory(old, true);
    QFile::remove(zipPath);
    return Ret::Ok;
}

int CCheckUpdateStateTask::check()
{
    // The style names a folder under the web root: nothing else is ever
    // looked at, let alone removed.
    const QString folder = m_webRoot + QLatin1Char('/') + m_styleName;
    if (!HttpRequest::isSafeStyleName(m_styleName.toLatin1()) || HttpRequest::holdsFolder(folder, m_appDir))
        return 120002;
    if (serverBase(m_appDir).isEmpty())
        return Ret::Ok;
    UpdateInfo server;
    if (getRemoteInfoUrl(m_styleName, &server) != Ret::Ok)
        server.version = QStringLiteral("V0.0.0.0");
    if (m_cancel && m_cancel->cancelled())
        return Ret::UpdateHttpFailed + CHttpClient::Cancelled;
    const std::shared_ptr<std::mutex> lock = styleLock(m_webRoot + QLatin1Char('/') + m_styleName);
    std::lock_guard<std::mutex> guard(*lock);
    QString installedText = QStringLiteral("Version:V0.0.0.0");
    QFile versionFile(folder + QLatin1Char('/') + m_styleName + QStringLiteral("Version.txt"));
    if (versionFile.open(QIODevice::ReadOnly))
        installedText = QString::fromLocal8Bit(versionFile.readAll());
    UpdateInfo installed;
    const int code = parseVersion(installedText, &installed, true);
    if (code != Ret::Ok)
        return code;
    if (compareVersions(installed.version, server.version) >= 0)
        return Ret::Ok;
    return update(server);
}

CGIReqThreadTask::CGIReqThreadTask(const QByteArray &request, CancelFlag *cancel)
    : m_request(request)
    , m_cancel(cancel)
{ }

QByteArray CGIReqThreadTask::run()
{
    // Keys are read as jsoncpp reads them: a missing "Url" or "Req" is an
    // empty text, a number or a truth value becomes its text; an array or
    // an object in their place, or a "MainType" or "Time" that is no
    // number within int range, ends the request unanswered.
    Json::Value root;
    int mainType = 0;
    int time = 0;
    std::string url;
    std::string body;
    const bool valid = JsonUtil::parse(m_request.toStdString(), &root) && root.isObject()
        && JsonUtil::convertInt(JsonUtil::member(root, "MainType"), &mainType)
        && JsonUtil::convertString(JsonUtil::member(root, "Url"), &url)
        && JsonUtil::convertString(JsonUtil::member(root, "Req"), &body)
        && JsonUtil::convertInt(JsonUtil::member(root, "Time"), &time);
    if (!valid)
        return QByteArray();
    // One second of the page's time is kept for the answer's way back; a
    // time of a second or less leaves none.
    const int timeoutMs = time <= 1000 ? 0 : qMin(time - 1000, kMaxTimeoutMs);
    CHttpClient client(m_cancel);
    QString answer;
    const int code
        = client.postJson(QString::fromStdString(url), QString::fromStdString(body), answer, timeoutMs);
    if (code == CHttpClient::Cancelled)
        return QByteArray();
    QByteArray reply;
    if (code == CHttpClient::Ok) {
        reply = answer.toUtf8();
    } else {
        Json::Value error;
        error["ErrorMsg"] = CHttpClient::errorString(code).toLocal8Bit().toStdString();
        error["MainRsp"] = mainType;
        error["Ret"] = code;
        reply = HttpReply::styledJson(error);
    }
    return HttpReply::httpTextReply(reply.constData(), reply.size(), 200);
}
