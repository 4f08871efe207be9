#pragma once

// Test control of the Kestrix device library: scripts the simulated devices
// and errors, injects alarms and disconnects, slows calls down and reads the
// log of library calls. For tests only; the player never includes this.

#include <cstdint>
#include <string>
#include <vector>

#define KESTRIX_CONTROL_API __attribute__((visibility("default")))

namespace kestrix {

// A recording or picture of a channel. Times "YYYY-MM-DD hh:mm:ss" (local).
struct RecordingSpec
{
    int channel = 0;
    std::string name; // empty: made from the channel and the times
    std::string begin;
    std::string end;
    int64_t size = -1; // bytes; -1: what the span holds at 25 frames per second
    int streamType = 0;
    int fileType = 0; // 0 recording, 1 picture (JPEG)
};

// One simulated device. Address logins match `address` (and `port` when not 0),
// serial logins match `serial`.
struct DeviceSpec
{
    std::string address;
    int port = 0;
    std::string serial;
    std::string token; // serial-and-token logins; empty accepts any token
    std::string user = "admin";
    std::string password;
    int videoChannels = 16;
    int extraChannels = 0;
    int deviceType = 1;
    std::string name = "Kestrix NVR";
    std::string softwareVersion = "V4.2.0.1";
    int build[3] = { 2023, 11, 20 };
    int mainSize[2] = { 704, 576 };
    int extraSize[2] = { 352, 288 };
    bool audio = true; // live streams carry G.711 audio frames
    bool canTalk = true;
    bool locked = false; // every login: TRV_ERR_ACCOUNT_LOCKED
    std::string cloudError; // serial logins: TRV_ERR_CLOUD with this text
    int loginError = 0; // every login fails with this error number
    bool unreachable = false; // logins time out after the connect time
    int maxLogins = 0; // 0: unlimited; more: TRV_ERR_TOO_MANY_LOGINS
    std::string upgradeVersion; // a newer firmware on the cloud; empty: none
    std::string recordDate; // "YYYY-MM-DD" of the day of recordings; empty: today
    bool defaultRecordings = true; // 24 hourly recordings per channel when `recordings` is empty
    std::vector<RecordingSpec> recordings;
    std::string configJson; // JSON object merged into the device's configuration tree
    int64_t downloadRate = 0; // bytes per second of downloads and file sends; 0: unlimited
    int fileSendError = 0; // file sends end as TRV_TRANSFER_FAILED with this code; 0: they succeed
};

// One call of the library's C interface.
struct CallRecord
{
    uint64_t index = 0;
    std::string function; // "TRV_NET_RealPlay"
    std::vector<std::string> args; // arguments in order: numbers, "text" quoted, 0x.. pointers or null,
                                   // records as {field=value,...}
    int64_t result = 0;
    bool returned = false;
};

namespace control {

// Back to the start: no scripted devices, errors or delays, an empty call
// log, default channel count 16, any address answering. Devices of the JSON
// file are read again at the next TRV_NET_Init.
KESTRIX_CONTROL_API void reset();

// Devices. A later spec with the same address or serial replaces the earlier one.
KESTRIX_CONTROL_API void addDevice(const DeviceSpec &spec);
// Reads devices from a JSON text: {"devices": [{...}], "defaultChannels": n, "anyAddress": bool}.
KESTRIX_CONTROL_API bool loadDevicesJson(const std::string &text, std::string *error = nullptr);
KESTRIX_CONTROL_API void setDefaultChannels(int channels);
// When false, an address without a device spec does not answer (time-out).
KESTRIX_CONTROL_API void setAnyAddressAnswers(bool answers);
// The spec a login to `addressOrSerial` would use (defaults for an unknown address).
KESTRIX_CONTROL_API DeviceSpec deviceFor(const std::string &addressOrSerial);

// The next `times` calls of `function` fail with `error` before doing anything.
KESTRIX_CONTROL_API void failNext(const std::string &function, int error, int times = 1);
// Every call of `function` waits `ms` first; a call with a time-out argument
// smaller than that waits the time-out and fails with TRV_ERR_TIMEOUT.
KESTRIX_CONTROL_API void setCallDelay(const std::string &function, int ms);

// Alarms and disconnects, delivered from the library's event thread.
// A login receives alarms only after TRV_NET_SetupAlarmChan.
KESTRIX_CONTROL_API bool injectAlarm(int loginId, int channel, int event, int state);
// The login's device drops the connection: its streams stop and the
// disconnect callback of TRV_NET_Init runs once.
KESTRIX_CONTROL_API bool injectDisconnect(int loginId);

// The call log.
KESTRIX_CONTROL_API std::vector<CallRecord> calls();
KESTRIX_CONTROL_API std::vector<CallRecord> callsOf(const std::string &function);
KESTRIX_CONTROL_API void clearCalls();

// State for checks.
KESTRIX_CONTROL_API int openHandles(); // handles of every kind, logins included
KESTRIX_CONTROL_API int runningThreads(); // the library's stream, playback, transfer and event threads
// Files the device received (TRV_NET_SendFileDataToDevice): name and bytes.
KESTRIX_CONTROL_API std::vector<std::pair<std::string, std::string>> receivedFiles(
    const std::string &addressOrSerial);
// The "OPFile" body that announced each received file, in the order of receivedFiles.
KESTRIX_CONTROL_API std::vector<std::string> receivedFileBodies(const std::string &addressOrSerial);
// Voice frames the device received over talks (TRV_NET_VoiceComSendData), whole
// and in order; the latest 4096 are kept.
KESTRIX_CONTROL_API std::vector<std::string> receivedVoiceFrames(const std::string &addressOrSerial);
// The device's configuration tree as JSON text.
KESTRIX_CONTROL_API std::string configOf(const std::string &addressOrSerial);

} // namespace control
} // namespace kestrix
