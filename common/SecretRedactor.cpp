#include "SecretRedactor.h"

#include <QVector>

#include <algorithm>

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

// One way of reading the text: with the parser's comments, or without them.
class Reading
{
public:
    Reading(const QString &text, bool comments)
        : s(text)
        , m_comments(comments)
    { }

    // Index just behind the JSON string that starts at `pos` (a quote), or -1.
    int stringEnd(int pos) const
    {
        for (int i = pos + 1; i < s.size(); ++i) {
            if (s[i] == QLatin1Char('\\'))
                ++i;
            else if (s[i] == QLatin1Char('"'))
                return i + 1;
        }
        return -1;
    }

    // Index just behind the comment that starts at `pos`, or -1 when none
    // starts there. An unterminated comment runs to the end of the text.
    int commentEnd(int pos) const
    {
        if (!m_comments || s[pos] != QLatin1Char('/') || pos + 1 >= s.size())
            return -1;
        if (s[pos + 1] == QLatin1Char('*')) {
            const int close = s.indexOf(QLatin1String("*/"), pos + 2);
            return close < 0 ? s.size() : close + 2;
        }
        if (s[pos + 1] == QLatin1Char('/')) {
            int i = pos + 2;
            while (i < s.size() && s[i] != QLatin1Char('\n') && s[i] != QLatin1Char('\r'))
                ++i;
            return i;
        }
        return -1;
    }

    // Index of the next character that is neither a blank nor a comment.
    int skipGap(int pos) const
    {
        while (pos < s.size()) {
            if (s[pos].isSpace()) {
                ++pos;
                continue;
            }
            const int end = commentEnd(pos);
            if (end < 0)
                break;
            pos = end;
        }
        return pos;
    }

    // Index just behind the JSON value that starts at `pos`; for a malformed
    // value, the end of what can be told apart (never past the text).
    int valueEnd(int pos) const
    {
        if (pos >= s.size())
            return pos;
        const QChar c = s[pos];
        if (c == QLatin1Char('"')) {
            const int end = stringEnd(pos);
            return end < 0 ? s.size() : end;
        }
        if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            int depth = 0;
            for (int i = pos; i < s.size(); ++i) {
                const QChar d = s[i];
                const int skipTo = d == QLatin1Char('"') ? stringEnd(i) : commentEnd(i);
                if (d == QLatin1Char('"') && skipTo < 0)
                    return s.size();
                if (skipTo >= 0)
                    i = skipTo - 1;
                else if (d == QLatin1Char('{') || d == QLatin1Char('['))
                    ++depth;
                else if ((d == QLatin1Char('}') || d == QLatin1Char(']')) && --depth == 0)
                    return i + 1;
            }
            return s.size();
        }
        int i = pos;
        while (i < s.size() && s[i] != QLatin1Char(',') && s[i] != QLatin1Char('}')
            && s[i] != QLatin1Char(']') && !s[i].isSpace())
            ++i;
        return i;
    }

    // The spans [begin, end) of the secrets' values in this reading; an empty
    // span where a secret's name and colon end the text.
    void collect(QVector<QPair<int, int>> *spans) const
    {
        int i = 0;
        while (i < s.size()) {
            const int comment = commentEnd(i);
            if (comment >= 0) {
                i = comment;
                continue;
            }
            if (s[i] != QLatin1Char('"')) {
                ++i;
                continue;
            }
            const int end = stringEnd(i);
            if (end < 0)
                return;
            const QStringRef name = s.midRef(i + 1, end - i - 2);
            i = end;
            const int colon = skipGap(i);
            if (colon >= s.size() || s[colon] != QLatin1Char(':') || !isSecretName(name))
                continue;
            const int valueStart = skipGap(colon + 1);
            i = valueEnd(valueStart);
            spans->append({ valueStart, i });
        }
    }

private:
    const QString &s;
    const bool m_comments;
};

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

    QVector<QPair<int, int>> spans;
    Reading(text, true).collect(&spans);
    Reading(text, false).collect(&spans);
    if (spans.isEmpty())
        return text;
    std::sort(spans.begin(), spans.end());

    // Overlapping spans of the two readings become one "***".
    QString out;
    out.reserve(text.size());
    int done = 0;
    for (int k = 0; k < spans.size();) {
        const int begin = spans[k].first;
        int end = spans[k].second;
        for (++k; k < spans.size() && spans[k].first <= end; ++k)
            end = std::max(end, spans[k].second);
        out.append(text.midRef(done, begin - done));
        out.append(QLatin1String("\"***\""));
        done = end;
    }
    out.append(text.midRef(done));
    return out;
}
