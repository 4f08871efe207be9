#include "SecretRedactor.h"

namespace {

const char *const kSecretNames[] = { "Password", "tcsToken", "Token", "key" };

// The text a JSON string's inside stands for: "Pass\u0077ord" is "Password".
QString unescaped(const QStringRef &inside)
{
    QString out;
    out.reserve(inside.size());
    for (int i = 0; i < inside.size(); ++i) {
        if (inside.at(i) != QLatin1Char('\\') || i + 1 >= inside.size()) {
            out.append(inside.at(i));
            continue;
        }
        const QChar c = inside.at(++i);
        bool ok = false;
        if (c == QLatin1Char('u') && i + 4 < inside.size()) {
            const ushort code = inside.mid(i + 1, 4).toUShort(&ok, 16);
            if (ok) {
                out.append(QChar(code));
                i += 4;
                continue;
            }
        }
        switch (c.unicode()) {
        case 'b':
            out.append(QLatin1Char('\b'));
            break;
        case 'f':
            out.append(QLatin1Char('\f'));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        default:
            out.append(c);
            break; // quote, backslash, slash and the unknown
        }
    }
    return out;
}

bool isSecretName(const QStringRef &name)
{
    // Names are compared as the parser reads them, escapes resolved.
    const bool escaped = name.contains(QLatin1Char('\\'));
    const QString plain = escaped ? unescaped(name) : QString();
    for (const char *secret : kSecretNames) {
        if (escaped ? plain == QLatin1String(secret) : name == QLatin1String(secret))
            return true;
    }
    return false;
}

// Index just behind the JSON string that starts at `pos` (a quote), or -1.
int skipString(const QString &s, int pos)
{
    for (int i = pos + 1; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\'))
            ++i;
        else if (s[i] == QLatin1Char('"'))
            return i + 1;
    }
    return -1;
}

int skipBlanks(const QString &s, int pos)
{
    while (pos < s.size() && s[pos].isSpace())
        ++pos;
    return pos;
}

// Index just behind the JSON value that starts at `pos`; for a malformed
// value, the end of what can be told apart (never past the text).
int skipValue(const QString &s, int pos)
{
    if (pos >= s.size())
        return pos;
    const QChar c = s[pos];
    if (c == QLatin1Char('"')) {
        const int end = skipString(s, pos);
        return end < 0 ? s.size() : end;
    }
    if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
        int depth = 0;
        for (int i = pos; i < s.size(); ++i) {
            const QChar d = s[i];
            if (d == QLatin1Char('"')) {
                const int end = skipString(s, i);
                if (end < 0)
                    return s.size();
                i = end - 1;
            } else if (d == QLatin1Char('{') || d == QLatin1Char('[')) {
                ++depth;
            } else if (d == QLatin1Char('}') || d == QLatin1Char(']')) {
                if (--depth == 0)
                    return i + 1;
            }
        }
        return s.size();
    }
    int i = pos;
    while (i < s.size() && s[i] != QLatin1Char(',') && s[i] != QLatin1Char('}') && s[i] != QLatin1Char(']')
        && !s[i].isSpace())
        ++i;
    return i;
}

} // namespace

QString redactSecrets(const QString &text)
{
    // Quick exit for the common line without any secret name in it, not even
    // one spelt with escapes.
    bool any = text.contains(QLatin1String("\\u"));
    for (const char *secret : kSecretNames) {
        if (text.contains(QLatin1String(secret))) {
            any = true;
            break;
        }
    }
    if (!any)
        return text;

    QString out;
    out.reserve(text.size());
    int i = 0;
    while (i < text.size()) {
        if (text[i] != QLatin1Char('"')) {
            out.append(text[i++]);
            continue;
        }
        const int end = skipString(text, i);
        if (end < 0) {
            out.append(text.midRef(i));
            break;
        }
        out.append(text.midRef(i, end - i));
        const QStringRef name = text.midRef(i + 1, end - i - 2);
        i = end;
        const int colon = skipBlanks(text, i);
        if (!isSecretName(name) || colon >= text.size() || text[colon] != QLatin1Char(':'))
            continue;
        const int valueStart = skipBlanks(text, colon + 1);
        out.append(text.midRef(i, valueStart - i));
        out.append(QLatin1String("\"***\""));
        i = skipValue(text, valueStart);
    }
    return out;
}
