#include "Devices.h"

#include "common/Json.h"
#include "common/ProgramDir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kx {

namespace {

uint64_t fnv1a(const std::string &text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

void readSize(const Json::Value &obj, const char *key, int out[2])
{
    const Json::Value &v = JsonUtil::member(obj, key);
    JsonUtil::readInt(v, "width", &out[0]);
    JsonUtil::readInt(v, "height", &out[1]);
}

bool specFromJson(const Json::Value &d, kestrix::DeviceSpec *spec, std::string *error)
{
    if (!d.isObject()) {
        *error = "a device is not an object";
        return false;
    }
    kestrix::DeviceSpec s;
    JsonUtil::readString(d, "ip", &s.address);
    JsonUtil::readString(d, "address", &s.address);
    JsonUtil::readInt(d, "port", &s.port);
    JsonUtil::readString(d, "serial", &s.serial);
    JsonUtil::readString(d, "token", &s.token);
    JsonUtil::readString(d, "user", &s.user);
    JsonUtil::readString(d, "password", &s.password);
    JsonUtil::readInt(d, "channels", &s.videoChannels);
    JsonUtil::readInt(d, "extraChannels", &s.extraChannels);
    JsonUtil::readInt(d, "deviceType", &s.deviceType);
    JsonUtil::readString(d, "name", &s.name);
    JsonUtil::readString(d, "softwareVersion", &s.softwareVersion);
    const Json::Value &build = JsonUtil::member(d, "build");
    if (build.isArray() && build.size() == 3) {
        for (Json::ArrayIndex i = 0; i < 3; ++i)
            if (JsonUtil::isIntLike(build[i]))
                s.build[i] = build[i].asInt();
    }
    readSize(d, "main", s.mainSize);
    readSize(d, "extra", s.extraSize);
    JsonUtil::readBool(d, "audio", &s.audio);
    JsonUtil::readBool(d, "canTalk", &s.canTalk);
    JsonUtil::readBool(d, "locked", &s.locked);
    JsonUtil::readString(d, "cloudError", &s.cloudError);
    JsonUtil::readInt(d, "loginError", &s.loginError);
    JsonUtil::readBool(d, "unreachable", &s.unreachable);
    JsonUtil::readInt(d, "maxLogins", &s.maxLogins);
    JsonUtil::readString(d, "upgradeVersion", &s.upgradeVersion);
    JsonUtil::readString(d, "recordDate", &s.recordDate);
    JsonUtil::readBool(d, "defaultRecordings", &s.defaultRecordings);
    qint64 rate = 0;
    if (JsonUtil::readInt64(d, "downloadRate", &rate))
        s.downloadRate = rate;
    const Json::Value &config = JsonUtil::member(d, "config");
    if (config.isObject())
        s.configJson = JsonUtil::writeCompact(config);
    const Json::Value &recs = JsonUtil::member(d, "recordings");
    if (recs.isArray()) {
        for (const Json::Value &r : recs) {
            kestrix::RecordingSpec rs;
            JsonUtil::readInt(r, "channel", &rs.channel);
            JsonUtil::readString(r, "name", &rs.name);
            JsonUtil::readString(r, "begin", &rs.begin);
            JsonUtil::readString(r, "end", &rs.end);
            qint64 size = -1;
            JsonUtil::readInt64(r, "size", &size);
            rs.size = size;
            JsonUtil::readInt(r, "stream", &rs.streamType);
            JsonUtil::readInt(r, "fileType", &rs.fileType);
            time_t b, e;
            if (!parseLocalTime(rs.begin, &b) || !parseLocalTime(rs.end, &e) || e < b) {
                *error = "a recording needs begin and end times, begin first";
                return false;
            }
            s.recordings.push_back(rs);
        }
    }
    if (s.address.empty() && s.serial.empty()) {
        *error = "a device needs an address or a serial number";
        return false;
    }
    if (s.videoChannels < 0 || s.extraChannels < 0) {
        *error = "negative channel count";
        return false;
    }
    *spec = s;
    return true;
}

// The configuration tree a device starts with; the description's own JSON is merged over it.
Json::Value defaultConfig(const kestrix::DeviceSpec &spec, int channels)
{
    Json::Value root(Json::objectValue);
    Json::Value &other = root["SystemFunction"]["OtherFunction"];
    other["SupportScaleTwoLens"] = false;
    other["SupportGunBallTwoSensorCamera"] = false;
    Json::Value &chn = root["ChannelSystemFunction"];
    chn["SupportIPCTalk"] = Json::Value(Json::arrayValue);
    chn["SupportGunBallTwoSensorCamera"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < channels && i < 256; ++i) {
        chn["SupportIPCTalk"].append(spec.canTalk);
        chn["SupportGunBallTwoSensorCamera"].append(false);
    }
    root["General"]["DeviceName"] = spec.name;
    return root;
}

void mergeJson(Json::Value &into, const Json::Value &from)
{
    for (const std::string &name : from.getMemberNames()) {
        if (into.isMember(name) && into[name].isObject() && from[name].isObject())
            mergeJson(into[name], from[name]);
        else
            into[name] = from[name];
    }
}

} // namespace

int DeviceState::channels() const
{
    const int64_t total = int64_t(spec.videoChannels) + spec.extraChannels;
    return total > 4096 ? 4096 : int(total);
}

void Catalog::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_specs.clear();
    m_states.clear();
    m_defaultChannels = 16;
    m_anyAddress = true;
    m_fileLoaded = false;
}

void Catalog::clearStates()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_states.clear();
    m_fileLoaded = false;
}

void Catalog::addDevice(const kestrix::DeviceSpec &spec)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_specs.begin(); it != m_specs.end();) {
        const bool same = (!spec.address.empty() && it->address == spec.address)
            || (!spec.serial.empty() && it->serial == spec.serial);
        it = same ? m_specs.erase(it) : it + 1;
    }
    m_specs.push_back(spec);
    // A device known before under the same address or serial starts afresh.
    for (auto it = m_states.begin(); it != m_states.end();) {
        const kestrix::DeviceSpec &s = it->second->spec;
        const bool same
            = (!spec.address.empty() && (s.address == spec.address || it->second->address == spec.address))
            || (!spec.serial.empty() && s.serial == spec.serial);
        it = same ? m_states.erase(it) : std::next(it);
    }
}

bool Catalog::loadJson(const std::string &text, std::string *error)
{
    std::string dummy;
    if (!error)
        error = &dummy;
    Json::Value root;
    if (!JsonUtil::parse(text, &root) || !root.isObject()) {
        *error = "not a JSON object";
        return false;
    }
    std::vector<kestrix::DeviceSpec> specs;
    const Json::Value &devices = JsonUtil::member(root, "devices");
    if (!devices.isNull() && !devices.isArray()) {
        *error = "\"devices\" is not an array";
        return false;
    }
    for (const Json::Value &d : devices) {
        kestrix::DeviceSpec s;
        if (!specFromJson(d, &s, error))
            return false;
        specs.push_back(s);
    }
    int channels = 0;
    if (JsonUtil::readInt(root, "defaultChannels", &channels))
        setDefaultChannels(channels);
    bool any = true;
    if (JsonUtil::readBool(root, "anyAddress", &any))
        setAnyAddress(any);
    for (const kestrix::DeviceSpec &s : specs)
        addDevice(s);
    return true;
}

void Catalog::loadFileOnce()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_fileLoaded)
            return;
        m_fileLoaded = true;
    }
    std::string path;
    if (const char *env = std::getenv("KESTRIX_DEVICES"))
        path = env;
    else
        path = ProgramDir::folder().toStdString() + "/kestrix_devices.json";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string error;
    if (!loadJson(ss.str(), &error))
        std::fprintf(stderr, "kestrix: %s: %s\n", path.c_str(), error.c_str());
}

void Catalog::setDefaultChannels(int channels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultChannels = channels < 0 ? 0 : channels;
}

void Catalog::setAnyAddress(bool answers)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_anyAddress = answers;
}

kestrix::DeviceSpec Catalog::defaultSpec(const std::string &address) const
{
    kestrix::DeviceSpec s;
    s.address = address;
    s.videoChannels = m_defaultChannels;
    char serial[32];
    std::snprintf(serial, sizeof serial, "KX%014llx",
        static_cast<unsigned long long>(fnv1a(address) & 0xFFFFFFFFFFFFFull));
    s.serial = serial;
    return s;
}

std::shared_ptr<DeviceState> Catalog::stateFor(
    const kestrix::DeviceSpec &spec, const std::string &key, const std::string &address)
{
    auto it = m_states.find(key);
    if (it != m_states.end())
        return it->second;
    auto state = std::make_shared<DeviceState>();
    state->spec = spec;
    state->address = address.empty() ? spec.address : address;
    state->config = defaultConfig(spec, state->channels());
    if (!spec.configJson.empty()) {
        Json::Value extra;
        if (JsonUtil::parse(spec.configJson, &extra) && extra.isObject())
            mergeJson(state->config, extra);
    }
    m_states.emplace(key, state);
    return state;
}

std::shared_ptr<DeviceState> Catalog::byAddress(const std::string &address, int port, Lookup *lookup)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const kestrix::DeviceSpec &s : m_specs) {
        if (!s.address.empty() && s.address == address && (s.port == 0 || s.port == port)) {
            *lookup = s.unreachable ? Lookup::Unreachable : Lookup::Found;
            return stateFor(s, "described:" + s.address + "|" + s.serial, address);
        }
    }
    if (!m_anyAddress || address.empty()) {
        *lookup = Lookup::Unreachable;
        return nullptr;
    }
    *lookup = Lookup::Found;
    return stateFor(defaultSpec(address), "addr:" + address, address);
}

std::shared_ptr<DeviceState> Catalog::bySerial(const std::string &serial, Lookup *lookup)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const kestrix::DeviceSpec &s : m_specs) {
        if (!s.serial.empty() && s.serial == serial) {
            *lookup = s.unreachable ? Lookup::Unreachable : Lookup::Found;
            return stateFor(s, "described:" + s.address + "|" + s.serial, std::string());
        }
    }
    // Devices that answered at an address are reachable by their serial too.
    for (auto &entry : m_states) {
        if (entry.second->spec.serial == serial) {
            *lookup = Lookup::Found;
            return entry.second;
        }
    }
    *lookup = Lookup::Unknown;
    return nullptr;
}

kestrix::DeviceSpec Catalog::specFor(const std::string &addressOrSerial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const kestrix::DeviceSpec &s : m_specs)
        if (s.address == addressOrSerial || s.serial == addressOrSerial)
            return s;
    return defaultSpec(addressOrSerial);
}

std::shared_ptr<DeviceState> Catalog::find(const std::string &addressOrSerial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto &entry : m_states) {
        const DeviceState &d = *entry.second;
        if (d.address == addressOrSerial || d.spec.address == addressOrSerial
            || d.spec.serial == addressOrSerial)
            return entry.second;
    }
    return nullptr;
}

bool parseLocalTime(const std::string &text, time_t *out)
{
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        return false;
    if (y < 1970 || y > 2100 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59
        || s < 0 || s > 59)
        return false;
    *out = makeLocalTime(y, mo, d, h, mi, s);
    return *out != time_t(-1);
}

time_t makeLocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

void splitLocalTime(time_t t, int *year, int *month, int *day, int *hour, int *minute, int *second)
{
    std::tm tm = {};
    localtime_r(&t, &tm);
    *year = tm.tm_year + 1900;
    *month = tm.tm_mon + 1;
    *day = tm.tm_mday;
    *hour = tm.tm_hour;
    *minute = tm.tm_min;
    *second = tm.tm_sec;
}

} // namespace kx
