// Firmware-customising requests (MainType::DiyFirmware) of the WebSocket front end.
// They are answered by the service itself, never relayed to a player; the
// requests that need a file choice answer when the chooser has ended.

#include "DiyFirmware.h"
#include "DiySteps.h"
#include "ProcessControl.h"
#include "ServiceLog.h"
#include "WebSocketServerThread.h"
#include "common/FileChooser.h"
#include "common/Json.h"
#include "common/PageMessage.h"
#include "common/ProgramDir.h"
#include "common/SecretRedactor.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QWebSocket>

#include <cstring>
#include <memory>

namespace {

const char *const kDiyFunction = "WebSocketServerThread::onMainMsgDiyFirmware";

QString deviceTypeName(int devType)
{
    static const char *const names[] = { "IPC", "DVR", "NVR", "MVB" };
    return devType >= 0 && devType < 4 ? QLatin1String(names[devType]) : QString();
}

// Unpacks and analyses the chosen package into the session's folders. Runs on
// a worker: it touches nothing but the customiser and the file system.
int prepareDiyPackage(CDiyFirmware *firmware, int nSessionID, const QString &chosenPath, Json::Value *reply)
{
    const char *const function = "WebSocketServerThread::onDiyProgramChosen";
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    int r = firmware->getSessionInfo(nSessionID, &info);
    if (r == Ret::DiyNoSession) {
        auto *fresh = new DiySessionInfo;
        std::memset(fresh, 0, sizeof(*fresh));
        r = firmware->addSessionInfo(nSessionID, fresh);
        std::memcpy(&info, fresh, sizeof(info));
        info.sessionId = nSessionID;
    } else if (r == Ret::Ok) {
        CDiyFirmware::removeDirRecursively(DiyText::get(info.unzipFolder));
        CDiyFirmware::removeDirRecursively(DiyText::get(info.produceFolder));
        r = firmware->updateSessionInfo(nSessionID, &info);
    }
    if (r != Ret::Ok)
        return r;

    QString path = chosenPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString packageName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    packageName.chop(4);
    const QString appDir = firmware->appDir();
    const QString unzipFolder = QStringLiteral("%1/UnZip/%2_%3").arg(appDir, packageName).arg(nSessionID);
    const QString programFolder
        = QStringLiteral("%1/UnZip/%2_%3/Program").arg(appDir, packageName).arg(nSessionID);
    const QString produceFolder = QStringLiteral("%1/Produce/%2_%3").arg(appDir, packageName).arg(nSessionID);
    serviceLog(function,
        QStringLiteral("UnzipPath:%1 produceZipPath:%2 nSessionID:%3")
            .arg(programFolder, produceFolder)
            .arg(nSessionID),
        ServiceLog::Normal, ServiceLog::Diy);

    // This session's folders only, and each made fresh.
    auto failed = [&](int code) {
        CDiyFirmware::removeDirRecursively(unzipFolder);
        return code;
    };
    if (!DiyText::set(info.packagePath, path) || !DiyText::set(info.unzipFolder, unzipFolder)
        || !DiyText::set(info.programFolder, programFolder)
        || !DiyText::set(info.produceFolder, produceFolder)) {
        serviceLog(function, QStringLiteral("path too long:%1").arg(programFolder), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyUnzipFailed;
    }
    CDiyFirmware::removeDirRecursively(unzipFolder);
    CDiyFirmware::removeDirRecursively(produceFolder);
    CDiyFirmware::createPath(unzipFolder);
    CDiyFirmware::createPath(programFolder);
    CDiyFirmware::createPath(produceFolder);
    info.sessionId = nSessionID;
    r = firmware->updateSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return failed(r);

    r = firmware->dealUnzipWithProgram(path, nSessionID);
    serviceLog(function,
        QStringLiteral("dealUnzipWithProgram end nSessionID:%1 nRet:%2").arg(nSessionID).arg(r),
        ServiceLog::Normal, ServiceLog::Diy);
    if (r == Ret::Ok)
        r = firmware->readExtDevIDConfig(nSessionID);
    if (r == Ret::Ok)
        r = firmware->readProgromCustom(nSessionID);
    if (r == Ret::Ok)
        r = firmware->readPowerOnLogo(nSessionID);
    if (r == Ret::Ok)
        r = firmware->getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return failed(r);

    const QString bootLogo = produceFolder + QStringLiteral("/logo/trvnet.jpg");
    (*reply)["BootLogo"] = QFileInfo(bootLogo).isFile() ? bootLogo.toStdString() : std::string();
    (*reply)["DevType"] = deviceTypeName(info.devType).toStdString();
    (*reply)["FirmName"] = DiyText::get(info.firmName).toStdString();
    (*reply)["BuildTime"] = DiyText::get(info.buildTime).toStdString();
    (*reply)["DiyVersion"] = DiyText::get(info.diyVersion).toStdString();
    (*reply)["Hardware"] = DiyText::get(info.hardware).toStdString();
    (*reply)["Channel"] = info.channel;
    (*reply)["DecompressPath"] = unzipFolder.toStdString();
    return Ret::Ok;
}

} // namespace

void WebSocketServerThread::onMainMsgDiyFirmware(const QString &msg, int nSessionID)
{
    Json::Value request;
    if (!JsonUtil::parse(msg, &request) || !request.isObject())
        return;
    const auto it = m_pageSockets.find(nSessionID);
    if (it == m_pageSockets.end() || !it->second)
        return;

    Json::Value reply = pageReply(request);

    serviceLog(kDiyFunction,
        QStringLiteral("DIYMsg nSessionID:%1 Msg:%2").arg(nSessionID).arg(redactSecrets(msg)),
        ServiceLog::Normal, ServiceLog::Diy);

    CDiyFirmware *firmware = CDiyFirmware::instance();
    int subType = 0;
    JsonUtil::readInt(request, "SubType", &subType);
    switch (subType) {
    case 1: // choose a firmware package
        startDiyChooser(nSessionID, { QStringLiteral("6"), QStringLiteral("1") },
            [this, nSessionID, reply](
                bool chosen, const QString &path) { onDiyProgramChosen(nSessionID, reply, chosen, path); });
        return;
    case 2: { // read a custom configuration
        const QString name = JsonUtil::stringOr(request, "Name");
        const QString text
            = firmware->getCustomConfig(name, JsonUtil::intOr(request, "Channel", 0), nSessionID);
        reply["JsonName"] = name.toStdString();
        reply["JsonData"] = text.toStdString();
        reply["Ret"] = text.isEmpty() ? Ret::DiyBadJson : Ret::Ok;
        break;
    }
    case 3: // write a custom configuration
        reply["Ret"] = diyWriteConfig(request, nSessionID);
        break;
    case 4: { // produce the package
        int r = diyPrepareProduce(request, nSessionID, &reply);
        if (r == Ret::Ok)
            return;
        reply["Ret"] = r;
        break;
    }
    case 6: { // list the languages
        const QStringList languages
            = firmware->getMultiLanguage(nSessionID).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (languages.isEmpty()) {
            serviceLog(
                kDiyFunction, QStringLiteral("MultiLanguage is empty"), ServiceLog::Normal, ServiceLog::Diy);
            reply["Ret"] = Ret::DiyNoRecordEntry;
            break;
        }
        Json::Value list(Json::arrayValue);
        for (const QString &language : languages)
            list.append(language.toStdString());
        reply["MultiLanguage"] = list;
        reply["Ret"] = Ret::Ok;
        break;
    }
    case 7: { // choose a logo
        const int logoType = JsonUtil::intOr(request, "LogoType", 0);
        startDiyChooser(nSessionID, { QStringLiteral("8"), QStringLiteral("1"), QString::number(logoType) },
            [this, nSessionID, reply, logoType](bool chosen, const QString &path) {
                onDiyLogoChosen(nSessionID, reply, logoType, chosen, path);
            });
        return;
    }
    default:
        break;
    }

    const std::string text = JsonUtil::writeCompact(reply);
    serviceLog(kDiyFunction, QStringLiteral("ReqMsg:%1").arg(QString::fromStdString(text).trimmed()),
        ServiceLog::Normal, ServiceLog::Diy);
    sendToPage(nSessionID, QByteArray::fromStdString(text));
}

int WebSocketServerThread::diyWriteConfig(const Json::Value &request, int nSessionID)
{
    CDiyFirmware *firmware = CDiyFirmware::instance();
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    const int r = firmware->getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    QString folder = DiyText::get(info.produceFolder);
    QString name = JsonUtil::stringOr(request, "Name");
    const Json::Value &data = JsonUtil::member(request, "JsonData");
    if (name == QLatin1String("AppDowloadLink") && (info.devType == 1 || info.devType == 2)) {
        folder += QStringLiteral("/logo");
        name = QStringLiteral("AppDowloadLink.custom");
        if (data.isNull()) {
            QFile::remove(folder + QStringLiteral("/AppDowloadLink.custom"));
            return Ret::Ok;
        }
    }
    return firmware->writeCustomConfig(folder, name, QString::fromStdString(JsonUtil::writeStyled(data)));
}

int WebSocketServerThread::diyPrepareProduce(const Json::Value &request, int nSessionID, Json::Value *reply)
{
    CDiyFirmware *firmware = CDiyFirmware::instance();
    firmware->writeExtDevIDConfig(JsonUtil::stringOr(request, "NewVersion"), nSessionID);
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    int r = firmware->writeProgramInfo(nSessionID);
    if (r == Ret::Ok)
        r = firmware->getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QString produceFolder = DiyText::get(info.produceFolder);
    if (produceFolder.isEmpty())
        return Ret::DiyNoSession;
    const QString defaultName = produceFolder.left(produceFolder.lastIndexOf(QLatin1Char('_')) + 1)
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")) + QStringLiteral(".zip");
    const QString folder = produceFolder.left(produceFolder.lastIndexOf(QLatin1Char('/')));
    const Json::Value head = *reply;
    startDiyChooser(nSessionID,
        { QStringLiteral("101"), QStringLiteral("1"), folder, defaultName, QStringLiteral(".Zip(*.zip)") },
        [this, nSessionID, head, produceFolder, firmware](bool chosen, const QString &path) {
            auto answer = std::make_shared<Json::Value>(head);
            if (chosen)
                (*answer)["ZipFilePath"] = path.toStdString();
            (*answer)["Ret"] = Ret::DiyNoRecordEntry;
            runDiyStep(
                nSessionID, "WebSocketServerThread::onDiyZipPathChosen", answer,
                [=] {
                    const bool written = !path.isEmpty() && firmware->makeProduceZip(produceFolder, path);
                    (*answer)["Ret"] = written ? Ret::Ok : Ret::DiyNoRecordEntry;
                },
                path.isEmpty());
        });
    return Ret::Ok;
}

void WebSocketServerThread::onDiyLogoChosen(
    int nSessionID, Json::Value reply, int logoType, bool chosen, const QString &path)
{
    auto answer = std::make_shared<Json::Value>(std::move(reply));
    if (chosen)
        (*answer)["LogoPath"] = path.toStdString();
    (*answer)["Ret"] = Ret::Failed;
    CDiyFirmware *firmware = CDiyFirmware::instance();
    runDiyStep(
        nSessionID, "WebSocketServerThread::onDiyLogoChosen", answer,
        [=] {
            int r = firmware->checkLogoFormat(path, logoType);
            if (r == 1)
                r = firmware->dealWithLogo(nSessionID, path, logoType);
            (*answer)["Ret"] = r;
        },
        path.isEmpty());
}

void WebSocketServerThread::onDiyProgramChosen(
    int nSessionID, Json::Value reply, bool chosen, const QString &path)
{
    auto answer = std::make_shared<Json::Value>(std::move(reply));
    if (chosen)
        (*answer)["ProgramPath"] = path.toStdString();
    (*answer)["Ret"] = Ret::DiyNoFileChosen;
    CDiyFirmware *firmware = CDiyFirmware::instance();
    runDiyStep(
        nSessionID, "WebSocketServerThread::onDiyProgramChosen", answer,
        [=] { (*answer)["Ret"] = prepareDiyPackage(firmware, nSessionID, path, answer.get()); },
        path.isEmpty());
}

void WebSocketServerThread::runDiyStep(int nSessionID, const char *function,
    std::shared_ptr<Json::Value> reply, std::function<void()> work, bool answerAtOnce)
{
    if (answerAtOnce) {
        finishDiyReply(nSessionID, reply.get(), function);
        return;
    }
    if (!m_diySteps)
        m_diySteps = new DiySteps(CDiyFirmware::instance(), this);
    m_diySteps->start(nSessionID, std::move(work), [this, nSessionID, function, reply](bool stopped) {
        // A page that left gets nothing; its folders go now that the step has ended.
        if (stopped) {
            dropDiySession(nSessionID);
            return;
        }
        finishDiyReply(nSessionID, reply.get(), function);
        releaseDiyHeld(nSessionID);
    });
}

bool WebSocketServerThread::holdWhileDiyStep(const QString &text, int nSessionID)
{
    if (!m_diySteps || !m_diySteps->busy(nSessionID))
        return false;
    HeldMessages &held = m_diyHeld[nSessionID];
    if (held.ending)
        return true;
    held.bytes += text.size() * qint64(sizeof(QChar));
    held.texts.push_back(text);
    if (held.bytes > kMaxHeldBytes) {
        serviceLog("WebSocketServerThread::holdWhileDiyStep",
            QStringLiteral("session %1 ended: more than %2 bytes sent during a firmware step")
                .arg(nSessionID)
                .arg(kMaxHeldBytes),
            ServiceLog::Warning);
        // Ended on the next turn of the loop, not inside the page's read;
        // what it sends until then is dropped.
        held.ending = true;
        held.texts.clear();
        held.bytes = 0;
        QMetaObject::invokeMethod(
            this,
            [this, nSessionID] { endSession(nSessionID, QWebSocketProtocol::CloseCodeTooMuchData, true); },
            Qt::QueuedConnection);
    }
    return true;
}

void WebSocketServerThread::releaseDiyHeld(int nSessionID)
{
    // In arrival order, until one of them starts another step.
    while (!m_diySteps->busy(nSessionID)) {
        const auto it = m_diyHeld.find(nSessionID);
        if (it == m_diyHeld.end())
            return;
        if (it->second.ending)
            return;
        if (it->second.texts.empty()) {
            m_diyHeld.erase(it);
            return;
        }
        const QString text = std::move(it->second.texts.front());
        it->second.texts.pop_front();
        it->second.bytes -= text.size() * qint64(sizeof(QChar));
        onTextMessage(text, nSessionID);
    }
}

void WebSocketServerThread::finishDiyReply(int nSessionID, Json::Value *reply, const char *function)
{
    serviceLog(function,
        QStringLiteral("ReqMsg:%1").arg(QString::fromStdString(JsonUtil::writeStyled(*reply))),
        ServiceLog::Normal, ServiceLog::Diy);
    sendToPage(nSessionID, QByteArray::fromStdString(JsonUtil::writeCompact(*reply)));
}

void WebSocketServerThread::startDiyChooser(
    int nSessionID, const QStringList &arguments, std::function<void(bool, const QString &)> done)
{
    // One chooser per session: the previous one ends and answers its own request.
    const auto previous = m_browseProcesses.find(nSessionID);
    if (previous != m_browseProcesses.end())
        ProcessControl::terminate(previous->second.process);

    QProcess *process = FileChooser::start(this, FileChooser::programPath(ProgramDir::folder()), arguments,
        [this, nSessionID, done](const FileChooser::Answer &answer) {
            const auto chooser = m_browseProcesses.find(nSessionID);
            if (chooser != m_browseProcesses.end() && chooser->second.ended)
                return; // the page has left
            done(answer.ok, answer.path);
        });
    trackChooser(nSessionID, process);
}

void WebSocketServerThread::dropDiySession(int nSessionID)
{
    m_diyHeld.erase(nSessionID);
    // A running step is stopped first; this runs again once it has ended.
    if (m_diySteps && m_diySteps->stop(nSessionID))
        return;
    CDiyFirmware *firmware = CDiyFirmware::instance();
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    if (firmware->getSessionInfo(nSessionID, &info) == Ret::Ok) {
        CDiyFirmware::removeDirRecursively(DiyText::get(info.unzipFolder));
        CDiyFirmware::removeDirRecursively(DiyText::get(info.produceFolder));
    }
    firmware->removeSessionInfo(nSessionID);
}
