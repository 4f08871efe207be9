#include "LogText.h"

#include "SecretRedactor.h"

namespace LogText {

QString forLine(const QString &text)
{
    // Redacted whole first: a cut could leave a secret's value unterminated,
    // and a line end removed first would make a "//" comment run on over
    // what the parser reads behind it.
    QString clean = redactSecrets(text);
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    if (clean.size() <= kMaxLogText)
        return clean;
    int cut = kMaxLogText;
    // Never half of a surrogate pair.
    if (clean.at(cut - 1).isHighSurrogate())
        --cut;
    return clean.left(cut) + QStringLiteral("... (%1 bytes)").arg(text.toUtf8().size());
}

} // namespace LogText
