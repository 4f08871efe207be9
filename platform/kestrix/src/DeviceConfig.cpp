#include "DeviceConfig.h"

#include "common/Json.h"

namespace kx {

namespace {

std::string answerFor(const std::string &name, const Json::Value &value)
{
    Json::Value root(Json::objectValue);
    root["Name"] = name;
    root["Ret"] = 100;
    if (!value.isNull())
        root[name] = value;
    std::string text = JsonUtil::writeCompact(root);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

const Json::Value *path(const Json::Value &root, const std::string &p, char separator)
{
    const Json::Value *v = &root;
    size_t start = 0;
    while (start <= p.size()) {
        const size_t end = p.find(separator, start);
        const std::string part = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const Json::Value &next = JsonUtil::member(*v, part.c_str());
        if (next.isNull())
            return nullptr;
        v = &next;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return v;
}

// The body's first element as an object ([{...}] or {...}).
Json::Value firstObject(const std::string &body)
{
    Json::Value root;
    if (!JsonUtil::parse(body, &root))
        return Json::Value();
    if (root.isArray() && root.size() > 0 && root[0].isObject())
        return root[0];
    if (root.isObject())
        return root;
    return Json::Value();
}

} // namespace

int channelAbility(Login &login, const std::string &name, std::string *answer)
{
    std::lock_guard<std::mutex> lock(login.device->mutex);
    const Json::Value *v = path(login.device->config, name, '@');
    if (!v)
        return TRV_ERR_NOT_SUPPORTED;
    const size_t at = name.rfind('@');
    *answer = answerFor(at == std::string::npos ? name : name.substr(at + 1), *v);
    return 1;
}

int ability(Login &login, const std::string &p)
{
    std::lock_guard<std::mutex> lock(login.device->mutex);
    const Json::Value *v = path(login.device->config, p, '/');
    if (!v)
        return 0;
    if (v->isBool())
        return v->asBool() ? 1 : 0;
    if (JsonUtil::isIntLike(*v))
        return v->asInt() != 0 ? 1 : 0;
    return 0;
}

int configByName(Login &login, const std::string &name, std::string *answer)
{
    const std::string bare = name.compare(0, 7, "bypass@") == 0 ? name.substr(7) : name;
    std::lock_guard<std::mutex> lock(login.device->mutex);
    const Json::Value &v = JsonUtil::member(login.device->config, bare.c_str());
    if (v.isNull())
        return TRV_ERR_NOT_SUPPORTED;
    *answer = answerFor(bare, v);
    return 1;
}

int importConfig(Login &login, const std::string &text)
{
    Json::Value root;
    if (!JsonUtil::parse(text, &root) || !root.isObject())
        return TRV_ERR_PARAMETER;
    std::lock_guard<std::mutex> lock(login.device->mutex);
    for (const std::string &name : root.getMemberNames())
        login.device->config[name] = root[name];
    return 0;
}

int jsonCommand(
    Login &login, const std::string &name, int channel, const std::string &body, std::string *answer)
{
    DeviceState &d = *login.device;
    if (name == "OPSensorGet" || name == "OPScaleTimesSwitch") {
        const Json::Value req = firstObject(body);
        int stream = 0;
        if (!req.isObject() || !JsonUtil::readInt(req, "StreamType", &stream) || stream < 0 || stream > 1)
            return TRV_ERR_PARAMETER;
        const std::string key = std::to_string(channel < 0 ? 0 : channel) + ":" + std::to_string(stream);
        std::lock_guard<std::mutex> lock(d.mutex);
        Json::Value &zoom = d.config["TwoLensZoom"];
        if (!zoom.isObject())
            zoom = Json::Value(Json::objectValue);
        Json::Value &state = zoom[key];
        if (!state.isObject()) {
            state = Json::Value(Json::objectValue);
            state["Times"] = 1.0;
            state["TimesOri"] = 1.0;
        }
        if (name == "OPScaleTimesSwitch") {
            double times = 0, original = 0;
            if (!JsonUtil::readDouble(req, "Times", &times)
                || !JsonUtil::readDouble(req, "TimesOri", &original))
                return TRV_ERR_PARAMETER;
            state["Times"] = times;
            state["TimesOri"] = original;
            *answer = answerFor(name, Json::Value());
            return 1;
        }
        Json::Value item(Json::objectValue);
        item["StreamType"] = stream;
        item["Times"] = state["Times"];
        item["TimesOri"] = state["TimesOri"];
        const Json::Value &max = JsonUtil::member(zoom, "MaxTimes");
        if (!max.isNull())
            item["MaxTimes"] = max;
        Json::Value list(Json::arrayValue);
        list.append(item);
        *answer = answerFor(name, list);
        return 1;
    }
    if (name == "OPFile") {
        const Json::Value req = firstObject(body);
        if (!req.isObject())
            return TRV_ERR_PARAMETER;
        PendingFile file;
        qint64 size = -1;
        if (JsonUtil::readInt64(req, "FileSize", &size))
            file.size = size;
        JsonUtil::readString(req, "FileName", &file.name);
        if (file.name.empty())
            file.name = "file.bin";
        file.body = body;
        {
            std::lock_guard<std::mutex> lock(login.mutex);
            login.hasPending = true;
            login.pending = file;
        }
        *answer = answerFor(name, Json::Value());
        return 1;
    }
    return TRV_ERR_NOT_SUPPORTED;
}

} // namespace kx
