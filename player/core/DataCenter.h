#pragma once

#include <QString>

// Process-wide data of the player: the session id from the command line.
class CDataCenter
{
public:
    static CDataCenter *instance();
    static void releaseInstance();

    virtual ~CDataCenter() = default;

    void setSessionId(int id) { m_nSessionId = id; }
    int sessionId() const { return m_nSessionId; }

    // Removes everything inside `path` (and `path` itself when asked). Symbolic
    // links are removed as links, never followed. 0 on success, -3 when an
    // entry cannot be removed, -4 when the folder itself cannot be removed.
    int DeleteDirectory(const QString &path, bool removeSelf);

private:
    CDataCenter() = default;

    int m_nSessionId = 0;
};
