#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>
#include <mutex>

// The service's own text log: dated lines in one file "yyyyMMdd.log" per day,
// in a sub-folder per module below the log root ("Log" beside the service).
// Switched by "Enable/PrintLogEn" of "ClientCfg.ini"; every line also goes to
// the debug output (standard error), whether the log is enabled or not.
class ServiceLog
{
public:
    enum Level { Normal = 0, Warning = 1, Error = 2 };
    enum Module { Plugin = 0, Quorvat = 1, Diy = 2, Auto = 3, DebugOutput = -1 };
    enum KeepMode { KeepWeek = 0, KeepMonth = 1, KeepAll = 2 };

    // The process-wide log, reading its switch from the program's folder.
    static ServiceLog *instance();

    // Reads "Enable/PrintLogEn" (default true) from "<appDir>/ClientCfg.ini".
    explicit ServiceLog(const QString &appDir);
    ~ServiceLog();

    ServiceLog(const ServiceLog &) = delete;
    ServiceLog &operator=(const ServiceLog &) = delete;

    // Sets the root, creates the module folders and deletes files older than
    // the keep mode allows.
    void init(const QString &root, int keepMode);
    // Appends one line; may be called from any thread.
    void write(int level, const QString &function, const QString &message, int module);

    bool isEnabled() const { return m_enabled; }
    QString root() const;
    // The folder of a module below the root; the root itself for other values.
    QString moduleFolder(int module) const;

    // One line as the log writes it (without its line end for levels 0 to 2).
    static QString formatLine(
        int level, const QString &function, const QString &message, const QDateTime &stamp);

    // The clock the log reads; tests set their own.
    void setClock(std::function<QDateTime()> clock);

private:
    QDateTime now() const;

    std::mutex m_mutex; // guards the file and m_currentDay
    QFile m_file;
    bool m_enabled = true;
    QString m_root;
    QString m_currentDay;
    std::function<QDateTime()> m_clock;
};

// The one log call of the service. A line of a module goes into the log file
// (and the debug output); a line of `ServiceLog::DebugOutput` (the relay and the
// page front ends) goes to the debug output only, formatted the same way.
void serviceLog(const char *function, const QString &text, int level = ServiceLog::Normal,
    int module = ServiceLog::DebugOutput);
