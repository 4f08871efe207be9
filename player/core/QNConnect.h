#pragma once

#include "DeviceLoginInfo.h"
#include "PlaybackFile.h"

#include "kestrix/kestrix.h"

#include <QByteArray>
#include <QString>

#include <memory>

// Free data the device library keeps for the application (TRV_NET_UserData).
struct SdkUserData
{
    int type = 0;
    QByteArray text;
};

// The request manager's door to the device library. The window side's talk
// (CTalk) and live grid ask the library about abilities and run the voice
// link themselves, and the manager sets the alarm callback and stops a file
// transfer directly; everything else goes through here. Each method makes one or a
// few library calls, logs them under its own name and turns the library's
// results into the player's result codes where its callers expect that. The
// wrapper keeps no state and takes no lock; it is called from the worker
// thread and the GUI thread, and the library calls back on its own threads.
class CQNConnect
{
public:
    // The process-wide instance, made on first use (by the request manager's
    // constructor, before other threads use it).
    static CQNConnect *GetInstance();
    // The instance if one exists, without making one (for the windows, which
    // may outlive it at exit).
    static CQNConnect *Instance();
    // Destroys the instance, which cleans the library up.
    static void ReleaseInstance();

    virtual ~CQNConnect();
    // Initialises the library with the disconnect callback and registers the
    // application's identity. Returns the init result, 0 on failure.
    virtual int InitKestrix(TRV_DisConnectCallBack callback, void *user);
    virtual bool UninitKestrix();
    // Logs in as `info` says and completes `info` from the device's answer.
    // Returns the login id (> 0), else the library's error number (0 when no
    // call was made); `resultCode` receives the player's code on failure.
    // `webType` has no effect.
    virtual int ConnectDevice(DeviceLoginInfo &info, int &resultCode, const QByteArray &webType);
    virtual int DisconnectDevice(int loginId);
    // The integer query {a, b, c}: its value, or 0 when the call fails.
    virtual int QueryDeviceInt(int loginId, int a, int b, int c);

    // Live streams: the stream handle (> 0), else the library's result.
    int ConnectChanel(int loginId, int channel, int streamType, TRV_RealDataCallBack callback, void *user);
    int ConnectChanel_V2(
        int loginId, int channel, int streamType, TRV_RealDataCallBack_V2 callback, void *user);
    int DisconnectChannel(int realHandle, TRV_RealDataCallBack callback, void *user);
    int DisconnectChannel_V2(int realHandle, TRV_RealDataCallBack_V2 callback, void *user);
    bool RequestKeyFrame(int loginId, int channel, int streamType);

    // Playback: kind 2 by time, kind 1 by file name; -1 for anything else.
    int BeginPlayback(int loginId, int channel, int kind, const PlaybackFileInfo &file,
        TRV_PlayBackDataCallBack dataCallback, TRV_PosCallBack posCallback, void *user);
    bool EndPlayback(int playHandle);
    // Speed codes 16..19 (slow) and 32..35 (fast), 0 normal, 2 reset and
    // pause; returns the code in force afterwards.
    int SetPlaybackSpeed(int playHandle, int newCode, int currentCode);
    bool SeekPlayback(int playHandle, int position);
    // A free speed factor.
    bool SetPlaybackSpeedFactor(int playHandle, float speed);

    int StartDownLoad(int loginId, const DownloadFileInfo &file, const QByteArray &targetPath,
        TRV_PosCallBack posCallback, void *user);
    // 0 for handle 0 (no call), else 1 when the library closed the handle.
    int CloseHandle(int handle);

    // 100, or the translated error.
    int GetChannelAbility(int loginId, const char *name, char *buffer, int size);
    bool GetScaleTwoLensAbility(int loginId, int channel, bool direct);
    // 1 read, 0 an answer that is no JSON, -1 failure.
    int GetScaleTwoLensConfig(
        int loginId, int channel, int streamType, float &times, bool direct, float &maxTimes);
    int SetScaleTwoLensConfig(int loginId, int channel, int streamType, float fOrignalTimes, float fCurTimes);

    // Mode 0 imports a configuration file, modes 1 to 4 send a file. 100 on success.
    // A send that started gives its transfer handle, which the callback names,
    // in `transferHandle` (0 for an import, which calls back never).
    int ImportFile(int mode, int loginId, int channel, const QString &path, TRV_FileTransferCallBack callback,
        void *user, int *transferHandle = nullptr);
    // 1 sent, -1 the device refused the announcement, -2 the send failed.
    int SendAudioFile(int loginId, const QString &path, const QByteArray &body, void *user,
        TRV_FileTransferCallBack callback);

    int StartLocalUpgrade(int loginId, const QString &path, TRV_UpgradeCallBack callback, void *user);
    int StartOnlineUpgrade(int loginId, const QString &version, TRV_UpgradeCallBack callback, void *user);
    int GetUpgradeState(int upgradeHandle);
    int CloseUpgrade(int upgradeHandle);
    // The call's result; `newVersion` is set when the cloud has a version
    // other than `currentVersion`.
    int GetCloudUpgradeInfo(int loginId, const QString &currentVersion, QString &newVersion);

    // Library error number -> player code.
    static int TranslateError(int error);

    // Registers an application identity and user data; takes both records.
    int InitSDKInfo(std::unique_ptr<TRV_APP_INFO> identity, std::unique_ptr<SdkUserData> userData,
        bool setIdentity, bool setUserData);
    int SetDevRecordEncryptKey(int loginId, int key);

    // The application identity that InitKestrix registers.
    static TRV_APP_INFO applicationIdentity();
    // Next number of the process-wide login sequence (never 0).
    static int32_t nextSequence();

protected:
    CQNConnect() = default;

private:
    CQNConnect(const CQNConnect &) = delete;
    CQNConnect &operator=(const CQNConnect &) = delete;
};
