#pragma once

// The simulated devices: their specs (defaults, the JSON file, the test
// control) and their run-time state (configuration tree, received files,
// recordings, logins).

#include "kestrix/kestrix_control.h"

#include <json/value.h>

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace kx {

struct RecordingFile
{
    int channel = 0;
    std::string name;
    time_t begin = 0;
    time_t end = 0;
    int64_t size = 0;
    int streamType = 0;
    int fileType = 0;
};

struct DeviceState
{
    kestrix::DeviceSpec spec;
    std::string address; // the address it was reached at (address logins)

    std::mutex mutex; // guards everything below
    Json::Value config;
    std::vector<std::pair<std::string, std::string>> received;
    std::vector<std::string> receivedBodies; // the "OPFile" body of each received file
    std::vector<std::string> voiceFrames; // voice frames of talks, whole, the latest kept
    int logins = 0;
    bool upgrading = false;
    bool voiceBusy = false;
    int encryptKey = 0;
    std::map<std::tuple<int, int, int>, std::vector<RecordingFile>> recordings;

    int channels() const;
};

enum class Lookup { Found, Unknown, Unreachable };

class Catalog
{
public:
    void reset();
    void clearStates();
    void addDevice(const kestrix::DeviceSpec &spec);
    bool loadJson(const std::string &text, std::string *error);
    void loadFileOnce(); // the JSON file of the environment or beside the program
    void setDefaultChannels(int channels);
    void setAnyAddress(bool answers);

    kestrix::DeviceSpec specFor(const std::string &addressOrSerial);
    std::shared_ptr<DeviceState> byAddress(const std::string &address, int port, Lookup *lookup);
    std::shared_ptr<DeviceState> bySerial(const std::string &serial, Lookup *lookup);
    std::shared_ptr<DeviceState> find(const std::string &addressOrSerial);

private:
    std::shared_ptr<DeviceState> stateFor(
        const kestrix::DeviceSpec &spec, const std::string &key, const std::string &address);
    kestrix::DeviceSpec defaultSpec(const std::string &address) const;

    std::mutex m_mutex;
    std::vector<kestrix::DeviceSpec> m_specs;
    int m_defaultChannels = 16;
    bool m_anyAddress = true;
    bool m_fileLoaded = false;
    std::map<std::string, std::shared_ptr<DeviceState>> m_states;
};

// Local time texts "YYYY-MM-DD hh:mm:ss".
bool parseLocalTime(const std::string &text, time_t *out);
time_t makeLocalTime(int year, int month, int day, int hour, int minute, int second);
void splitLocalTime(time_t t, int *year, int *month, int *day, int *hour, int *minute, int *second);

} // namespace kx
