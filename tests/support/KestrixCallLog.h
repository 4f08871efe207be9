#pragma once

// The simulated device library's call log as text: "Function(arg,arg)" for
// each call, in order.

#include "kestrix/kestrix_control.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace KestrixCallLog {

// `withLastError` false leaves out the error queries, which most steps make.
inline QStringList describe(const std::vector<kestrix::CallRecord> &calls, bool withLastError = false)
{
    QStringList out;
    for (const kestrix::CallRecord &c : calls) {
        if (!withLastError && c.function == "TRV_NET_GetLastError")
            continue;
        QStringList args;
        for (const std::string &a : c.args)
            args.append(QString::fromStdString(a));
        out.append(QString::fromStdString(c.function) + QLatin1Char('(') + args.join(QLatin1Char(','))
            + QLatin1Char(')'));
    }
    return out;
}

} // namespace KestrixCallLog
