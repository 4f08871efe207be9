#include "LibraryLog.h"

#include "LightWeightLog.h"

#include <QtGlobal>

namespace {

QtMessageHandler g_previous = nullptr;

// Any thread, the sound server's among them.
void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.category && qstrncmp(context.category, "lumarel.", 8) == 0) {
        const int level = type == QtWarningMsg            ? LightWeightLog::Warning
            : type == QtCriticalMsg || type == QtFatalMsg ? LightWeightLog::Error
                                                          : LightWeightLog::Normal;
        playerLog(context.category, text, level);
    }
    if (g_previous)
        g_previous(type, context, text);
}

} // namespace

namespace LibraryLog {

void install()
{
    g_previous = qInstallMessageHandler(handle);
}

} // namespace LibraryLog
