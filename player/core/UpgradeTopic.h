#pragma once

#include "RequestContext.h"

// Upgrades (MainTypes 21, 22, 25): device upgrades from the cloud or a local
// file with their progress, the check for a newer version of the tool on
// the update server, and the device library's application set-up. Worker
// thread, except the progress callback.
class UpgradeTopic
{
public:
    explicit UpgradeTopic(RequestContext &context);

    Answer onMainMsgOnlineUpgrade(const Request &request);
    Answer onMainMsgCheckToolVersion(const Request &request);
    Answer onMainMsgLocalUpgrade(const Request &request);
    // Registers an application identity and user data with the device
    // library (no request kind reaches it).
    Answer onMainMsgInitSDKInfo(const Request &request);

    // True while an upgrade that this player started runs (the upgrade
    // requests set it; its end, or the end of the device login that runs
    // it, clears it).
    bool isUpgrading() const { return m_bUpgrading; }
    void setUpgrading(bool upgrading) { m_bUpgrading = upgrading; }
    void OnUpgradeProgress(int upgradeHandle, int status, int totalSize, int sendSize);
    // Progress of an upgrade; the user value is the topic.
    static void UpgradeProgressCallback(
        int upgradeHandle, int status, int totalSize, int sendSize, void *user);

    // True when dotted version `a` is higher than `b`: four numeric fields
    // compared in turn, a missing or non-numeric field counting as 0; an
    // empty `a` is never higher, any `a` is higher than an empty `b`.
    static bool CompareVersion(const QString &a, const QString &b);
    // How long the tool's version check waits for the server (60000 ms).
    static void setVersionCheckTimeoutMs(int ms);

private:
    // Sets the upgrade flag when a start succeeded.
    void noteUpgradeStart(int result);

    RequestContext &m_ctx;
    bool m_bUpgrading = false;
    QString m_strNewFirmwareVersion;
};
