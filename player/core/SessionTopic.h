#pragma once

#include "RequestContext.h"

class DownloadTopic;
class LiveViewTopic;
class PlaybackTopic;
class TalkTopic;
class UpgradeTopic;
class ViewControlTopic;

// The device session: login (MainType 8), a fresh login to the same device
// (28), logout (9), the session key (32), and the device library's
// disconnect and alarm callbacks. The logout asks every topic to end what
// it runs. Worker thread, except the callbacks.
class SessionTopic
{
public:
    struct Topics
    {
        LiveViewTopic &live;
        PlaybackTopic &playback;
        DownloadTopic &downloads;
        ViewControlTopic &view;
        TalkTopic &talk;
        UpgradeTopic &upgrades;
    };
    SessionTopic(RequestContext &context, const Topics &topics);

    Answer onMainMsgLogin(const Request &request);
    Answer onMainMsgRelogin(const Request &request);
    Answer onMainMsgLogout(const Request &request);
    Answer onMainMsgConsultAesKey(const Request &request);

    // Logs in to the main device as its record says: 100, 1020 without a
    // device wrapper, else the wrapper's code.
    int loginDev();
    // Stops every stream and logs out of every device; an upgrade this
    // player started ends with the login.
    void logoutDev();
    // The error number of the last failed login.
    int lastLoginError() const { return m_nLastError; }

    // Writes a 16-character session key into `buffer` (at least 17 bytes, zeroed).
    static void MakeRandomString(char *buffer);
    int SetDevRecordEncryptKey(int loginId, int key);

    // Device library callbacks; the user value is the topic.
    static void DisconnectFunction(int loginId, const char *address, int port, void *user);
    static int AlarmMessageCallback(
        int loginId, const char *buffer, unsigned int length, void *user, int kind, int reserved);

private:
    RequestContext &m_ctx;
    Topics m_topics;
    int m_nLastError = 0;
};
