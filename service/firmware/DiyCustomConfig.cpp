// Custom configuration of a package: the custom partition's settings split
// into one JSON file per setting in the produce folder, read and written back
// by the page (each write merged with the stored file), the language list,
// the customisation version and the firmware description.

#include "DiyFirmware.h"
#include "DiyTree.h"
#include "ServiceLog.h"
#include "common/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

namespace {

void zero(DiySessionInfo *info)
{
    std::memset(info, 0, sizeof(*info));
}

QJsonDocument parseJson(const QByteArray &text)
{
    QJsonParseError error;
    return QJsonDocument::fromJson(text, &error);
}

bool isJson(const QString &text)
{
    return !parseJson(text.toUtf8()).isNull();
}

// {"Name": name, name: value} as indented text.
QString settingText(const QString &name, const QJsonValue &value)
{
    const QJsonObject object { { QStringLiteral("Name"), name }, { name, value } };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

// The key of a custom file: the whole name when it has no ".", else the part
// before the first "." when the second part is "custom"; empty: not handled.
QString customKey(const QString &fileName)
{
    if (!fileName.contains(QLatin1Char('.')))
        return fileName;
    const QStringList parts = fileName.split(QLatin1Char('.'));
    return parts.at(1) == QLatin1String("custom") ? parts.at(0) : QString();
}

} // namespace

bool CDiyFirmware::isSettingName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

int CDiyFirmware::readExtDevIDConfig(int nSessionID)
{
    DiySessionInfo info;
    zero(&info);
    const int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QString path
        = DiyText::get(info.customPartPath) + QStringLiteral("/CustomConfig/ExtDevIDConfig.custom");
    Json::Value root;
    std::string version;
    if (readJsonFile(path, &root, DiyText::get(info.unzipFolder)) == Ret::Ok) {
        const Json::Value &config = JsonUtil::member(root, "ExtDevIDCfg");
        JsonUtil::convertString(JsonUtil::member(config, "OEMSelfDef"), &version);
    }
    // A plain text comparison, as the devices compare it.
    if (version < "10")
        version = "10";
    DiyText::setCut(info.diyVersion, QString::fromStdString(version));
    return updateSessionInfo(nSessionID, &info);
}

int CDiyFirmware::readProgromCustom(int nSessionID)
{
    DiySessionInfo info;
    zero(&info);
    int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QString produce = DiyText::get(info.produceFolder);
    const QString within = DiyText::get(info.unzipFolder);
    const QString folder = DiyText::get(info.customPartPath) + QStringLiteral("/CustomConfig");
    int answer = Ret::Ok;
    const QStringList files = DiyTree::fileNames(within, folder);
    for (const QString &fileName : files) {
        const QString key = customKey(fileName);
        if (key.isEmpty())
            continue;
        if (key == QLatin1String("BaseStationAlarmFunc") || key == QLatin1String("ColorConfig")) {
            serviceLog("CDiyFirmware::readProgromCustom",
                QStringLiteral("not need to deal file:%1").arg(fileName), ServiceLog::Normal,
                ServiceLog::Diy);
            continue;
        }
        // A file that cannot be read whole (over the read cap, say) counts as
        // empty, which no step below accepts.
        QByteArray data;
        if (getBinDataFromLocalFile(folder + QLatin1Char('/') + fileName, &data, within) != Ret::Ok)
            data.clear();
        QString text = QString::fromUtf8(data);
        if (key == QLatin1String("Ability")) {
            const QJsonDocument document = parseJson(data);
            if (!document.isObject()) {
                serviceLog("CDiyFirmware::readProgromCustom", QStringLiteral("Ability jsonError%1").arg(text),
                    ServiceLog::Error, ServiceLog::Diy);
                continue;
            }
            const QJsonObject ability = document.object();
            for (auto it = ability.begin(); it != ability.end(); ++it) {
                answer = writeCustomConfig(
                    produce, QStringLiteral("Ability.") + it.key(), settingText(it.key(), it.value()));
                if (answer != Ret::Ok)
                    break;
            }
            continue;
        }
        if (key == QLatin1String("ExtDevIDConfig") || key == QLatin1String("AppDowloadLink")) {
            answer = writeCustomConfig(produce, key, text);
        } else {
            // A text that stays broken after its repair fails to split below.
            dealAbnormalJson(&text);
            answer = writeCustomConfigArray(text, key, produce);
        }
        if (answer != Ret::Ok)
            return answer;
    }
    return answer;
}

int CDiyFirmware::writeCustomConfigArray(const QString &jsonText, const QString &key, const QString &folder)
{
    const QJsonDocument document = parseJson(jsonText.toUtf8());
    if (document.isArray())
        return writeCustomConfig(folder, key, settingText(key, document.array()));
    if (!document.isObject())
        return Ret::DiyBadJson;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString name = key + QLatin1Char('.') + it.key();
        const int r = writeCustomConfig(folder, name, settingText(name, it.value()));
        if (r != Ret::Ok)
            return r;
    }
    return Ret::Ok;
}

int CDiyFirmware::writeCustomConfigElements(
    const QJsonArray &elements, const QString &key, const QString &folder)
{
    for (int i = 0; i < elements.size(); ++i) {
        const QString name = QStringLiteral("%1.[%2]").arg(key).arg(i);
        const int r = writeCustomConfig(folder, name, settingText(name, elements.at(i)));
        if (r != Ret::Ok)
            return r;
    }
    return Ret::Ok;
}

int CDiyFirmware::writeCustomConfig(const QString &folder, const QString &name, const QString &jsonText)
{
    if (!isSettingName(name)) {
        serviceLog("CDiyFirmware::writeCustomConfig",
            QStringLiteral("setting name refused strName:%1").arg(name), ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyBadJson;
    }
    createPath(folder);
    const QString target = folder + QLatin1Char('/') + name;
    QString text = jsonText;
    if (!name.contains(QLatin1String("AppDowloadLink")) && !name.contains(QLatin1String("ExtDevIDConfig"))) {
        QByteArray stored;
        if (getBinDataFromLocalFile(target, &stored, folder) == Ret::Ok)
            text = compareJson(QString::fromUtf8(stored), jsonText);
    }
    if (text.isEmpty()) {
        serviceLog("CDiyFirmware::writeCustomConfig",
            QStringLiteral("strJson invalid strName:%1 strWebJson:%2").arg(name, jsonText), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyBadJson;
    }
    const QJsonDocument document = parseJson(text.toUtf8());
    if (document.isNull()) {
        serviceLog("CDiyFirmware::writeCustomConfig",
            QStringLiteral("strJson invalid strName:%1 strJson:%2").arg(name, text), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyBadJson;
    }
    // A link put in the name's place is replaced, never written through.
    if (QFileInfo(target).isSymLink())
        QFile::remove(target);
    QFile file(target);
    const QByteArray bytes = document.toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        serviceLog("CDiyFirmware::writeCustomConfig", QStringLiteral("write file failed path:%1").arg(target),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyBadJson;
    }
    return Ret::Ok;
}

QString CDiyFirmware::compareJson(const QString &localText, const QString &pageText)
{
    if (localText.isEmpty())
        return pageText;
    if (pageText.isEmpty())
        return localText;
    const QJsonDocument page = parseJson(pageText.toUtf8());
    if (page.isNull())
        return localText;
    const QJsonDocument local = parseJson(localText.toUtf8());
    if (local.isNull())
        return pageText;
    const QJsonValue localName = local.object().value(QStringLiteral("Name"));
    const QJsonValue pageName = page.object().value(QStringLiteral("Name"));
    if (localName != pageName) {
        serviceLog("CDiyFirmware::compareJson",
            QStringLiteral("JsonName Error LocalName:%1 WebName:%2")
                .arg(localName.toString(), pageName.toString()),
            ServiceLog::Error, ServiceLog::Diy);
        return QString();
    }
    const QString name = localName.toString();
    QJsonValue merged = local.object().value(name);
    compareJsonValue(merged, page.object().value(name));
    return settingText(name, merged);
}

void CDiyFirmware::compareJsonValue(QJsonValue &target, const QJsonValue &source)
{
    if (source.isUndefined())
        return;
    const bool nested = source.isObject() || source.isArray();
    if (!nested || target.type() != source.type()) {
        target = source;
        return;
    }
    auto mergeMember = [](QJsonValue stored, const QJsonValue &given) {
        if (stored.isNull() || stored.isUndefined())
            return given;
        compareJsonValue(stored, given);
        return stored;
    };
    if (source.isObject()) {
        QJsonObject object = target.toObject();
        const QJsonObject given = source.toObject();
        for (auto it = given.begin(); it != given.end(); ++it)
            object.insert(it.key(), mergeMember(object.value(it.key()), it.value()));
        target = object;
        return;
    }
    QJsonArray array = target.toArray();
    const QJsonArray given = source.toArray();
    for (int i = 0; i < given.size(); ++i) {
        if (i >= array.size())
            array.append(given.at(i));
        else
            array.replace(i, mergeMember(array.at(i), given.at(i)));
    }
    target = array;
}

void CDiyFirmware::compareJsonNode(Json::Value &target, const Json::Value &source)
{
    const bool nested = source.isObject() || source.isArray();
    if (!nested || target.type() != source.type()) {
        target = source;
        return;
    }
    auto mergeMember = [](Json::Value &stored, const Json::Value &given) {
        if (stored.isNull())
            stored = given;
        else
            compareJsonNode(stored, given);
    };
    if (source.isObject()) {
        for (const std::string &key : source.getMemberNames())
            mergeMember(target[key], source[key]);
        return;
    }
    for (Json::ArrayIndex i = 0; i < source.size(); ++i) {
        if (i >= target.size())
            target.append(source[i]);
        else
            mergeMember(target[i], source[i]);
    }
}

int CDiyFirmware::dealAbnormalJson(QString *text)
{
    if (isJson(*text))
        return Ret::Ok;
    serviceLog("CDiyFirmware::dealAbnormalJson", QStringLiteral("jsonError jsonstr:%1").arg(*text),
        ServiceLog::Error, ServiceLog::Diy);
    QString repaired = text->simplified();
    const int lastBrace = repaired.lastIndexOf(QLatin1Char('}'));
    if (lastBrace >= 0) {
        // The part before the text's last "}" ends with the last member's "}";
        // a comma after it is the trailing one.
        const int innerBrace = repaired.left(lastBrace).lastIndexOf(QLatin1Char('}'));
        if (innerBrace >= 0 && repaired.lastIndexOf(QLatin1Char(',')) > innerBrace)
            repaired = repaired.left(innerBrace + 1) + QLatin1Char('}');
    }
    if (!isJson(repaired)) {
        serviceLog("CDiyFirmware::dealAbnormalJson", QStringLiteral("jsonError after deal:%1").arg(repaired),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyBadJson;
    }
    *text = repaired;
    return Ret::Ok;
}

QString CDiyFirmware::getCustomConfig(const QString &name, int channel, int nSessionID)
{
    Q_UNUSED(channel);
    DiySessionInfo info;
    zero(&info);
    if (getSessionInfo(nSessionID, &info) != Ret::Ok || !isSettingName(name))
        return QString();
    const QString folder = DiyText::get(info.produceFolder);
    const QStringList files = DiyTree::fileNames(folder, folder);
    for (const QString &fileName : files) {
        if (!fileName.contains(name))
            continue;
        QByteArray data;
        if (getBinDataFromLocalFile(folder + QLatin1Char('/') + fileName, &data, folder) != Ret::Ok)
            continue;
        const QJsonDocument document = parseJson(data);
        if (document.isNull()) {
            serviceLog("CDiyFirmware::getCustomConfig",
                QStringLiteral("read json failed Name:%1 FileName:%2").arg(name, fileName), ServiceLog::Error,
                ServiceLog::Diy);
            return QString();
        }
        return QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    }
    return QString();
}

QString CDiyFirmware::getMultiLanguage(int nSessionID)
{
    DiySessionInfo info;
    zero(&info);
    if (getSessionInfo(nSessionID, &info) != Ret::Ok)
        return QString();
    const QString customPart = DiyText::get(info.customPartPath);
    if (customPart.isEmpty())
        return QString();
    return DiyTree::fileNames(DiyText::get(info.unzipFolder), customPart + QStringLiteral("/data/Strings"))
        .join(QLatin1Char(' '));
}

int CDiyFirmware::writeExtDevIDConfig(const QString &newVersion, int nSessionID)
{
    DiySessionInfo info;
    zero(&info);
    const int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QString produce = DiyText::get(info.produceFolder);
    QByteArray stored;
    const int read = getBinDataFromLocalFile(produce + QStringLiteral("/ExtDevIDConfig"), &stored, produce);
    if (read == Ret::DiyNoMemory)
        return Ret::DiyNoMemory;
    Json::Value root(Json::objectValue);
    if (read == Ret::Ok) {
        if (!JsonUtil::parse(stored.toStdString(), &root) || !root.isObject())
            return Ret::DiyBadJson;
        const Json::Value &config = JsonUtil::member(root, "ExtDevIDCfg");
        if (!config.isNull() && !config.isObject())
            return Ret::DiyBadJson;
    } else {
        Json::Value &config = root["ExtDevIDCfg"];
        config["PrimerIntel"] = "0";
        config["AdvIntel"] = "0";
        config["WifiType"] = "04";
        config["SubDevID"] = "0";
        config["ExtProtocol"] = "00";
    }
    root["ExtDevIDCfg"]["OEMSelfDef"] = newVersion.toStdString();
    return writeCustomConfig(
        produce, QStringLiteral("ExtDevIDConfig"), QString::fromStdString(JsonUtil::writeStyled(root)));
}

int CDiyFirmware::writeProgramInfo(int nSessionID)
{
    DiySessionInfo info;
    zero(&info);
    const int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QJsonObject program { { QStringLiteral("FirmName"), DiyText::get(info.firmName) },
        { QStringLiteral("Hardware"), DiyText::get(info.hardware) },
        { QStringLiteral("BuildTime"), DiyText::get(info.buildTime) } };
    const QString produce = createPath(DiyText::get(info.produceFolder));
    QFile file(produce + QStringLiteral("/ProgramInfo"));
    const QByteArray bytes = QJsonDocument(program).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        serviceLog("CDiyFirmware::writeProgramInfo",
            QStringLiteral("write file failed path:%1").arg(file.fileName()), ServiceLog::Error,
            ServiceLog::Diy);
    return Ret::Ok;
}
