#include "JsonScan.h"

#include <bitset>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace JsonScan {

namespace {

constexpr std::string_view kMainType = "MainType";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c)
{
    if (isDigit(c))
        return unsigned(c - '0');
    return unsigned((c | 0x20) - 'a' + 10);
}

// One pass over the text; nesting is kept as one bit per open container, so
// the scan's memory is fixed whatever the text holds.
class Scanner
{
public:
    explicit Scanner(std::string_view text)
        : m_p(text.data())
        , m_end(text.data() + text.size())
    { }

    MainTypeField run()
    {
        MainTypeField result;
        if (!skipSpace() || m_p == m_end || *m_p != '{')
            return result;
        if (!scan())
            return result;
        return m_field;
    }

private:
    // Blanks alone: where the parser takes no comment (between a member's
    // name and its colon, inside an empty array).
    void skipBlanks()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\r' || *m_p == '\n'))
            ++m_p;
    }

    // Blanks and comments, as the parser skips them; false for a comment
    // that does not end.
    bool skipSpace()
    {
        while (m_p != m_end) {
            const char c = *m_p;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++m_p;
                continue;
            }
            if (c != '/')
                return true;
            if (m_end - m_p < 2)
                return false;
            if (m_p[1] == '/') {
                m_p += 2;
                while (m_p != m_end && *m_p != '\n' && *m_p != '\r')
                    ++m_p;
            } else if (m_p[1] == '*') {
                m_p += 2;
                for (;;) {
                    if (m_end - m_p < 2)
                        return false;
                    if (m_p[0] == '*' && m_p[1] == '/')
                        break;
                    ++m_p;
                }
                m_p += 2;
            } else {
                return false;
            }
        }
        return true;
    }

    // A string from its opening quote; with `matchMainType`, whether its
    // decoded text is "MainType" goes to *isMainType.
    bool string(bool *isMainType = nullptr)
    {
        ++m_p;
        size_t matched = 0;
        bool matches = isMainType != nullptr;
        const auto decoded = [&](unsigned codePoint) {
            if (matches && matched < kMainType.size() && codePoint == unsigned(kMainType[matched]))
                ++matched;
            else
                matches = false;
        };
        while (m_p != m_end) {
            const char c = *m_p++;
            if (c == '"') {
                if (isMainType)
                    *isMainType = matches && matched == kMainType.size();
                return true;
            }
            if (c != '\\') {
                decoded(static_cast<unsigned char>(c));
                continue;
            }
            if (m_p == m_end)
                return false;
            const char e = *m_p++;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                decoded(static_cast<unsigned char>(e));
                break;
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                decoded(0x1F); // a control character: never part of the name
                break;
            case 'u': {
                unsigned unit = 0;
                if (!hexUnit(&unit))
                    return false;
                // A high surrogate must be followed by a second escape.
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    unsigned low = 0;
                    if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u')
                        return false;
                    m_p += 2;
                    if (!hexUnit(&low))
                        return false;
                    unit = 0x10000;
                }
                decoded(unit);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool hexUnit(unsigned *unit)
    {
        if (m_end - m_p < 4)
            return false;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            if (!isHex(m_p[i]))
                return false;
            value = value * 16 + hexValue(m_p[i]);
        }
        m_p += 4;
        *unit = value;
        return true;
    }

    // A number: optional minus, digits (leading zeros allowed), optional
    // fraction and exponent; one beyond the range of a double is refused, as
    // the parser refuses it. With `field`, its value when it fits an int.
    bool number(MainTypeField *field)
    {
        const char *start = m_p;
        if (*m_p == '-')
            ++m_p;
        const char *digits = m_p;
        while (m_p != m_end && isDigit(*m_p))
            ++m_p;
        const char *digitsEnd = m_p;
        if (m_p == digits)
            return false;
        bool whole = true;
        const char *fraction = m_p;
        if (m_p != m_end && *m_p == '.') {
            whole = false;
            fraction = ++m_p;
            while (m_p != m_end && isDigit(*m_p))
                ++m_p;
            if (m_p == fraction)
                return false;
        }
        const char *fractionEnd = m_p;
        long long exponent = 0;
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            whole = false;
            ++m_p;
            const bool negative = m_p != m_end && *m_p == '-';
            if (m_p != m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            const char *exponentDigits = m_p;
            for (; m_p != m_end && isDigit(*m_p); ++m_p) {
                if (exponent < 1000000000LL)
                    exponent = exponent * 10 + (*m_p - '0');
            }
            if (m_p == exponentDigits)
                return false;
            if (negative)
                exponent = -exponent;
        }
        if (!withinDouble(start, digits, digitsEnd, fraction, fractionEnd, exponent))
            return false;
        if (field)
            *field = numberField(start, whole);
        return true;
    }

    // Whether the number is finite as a double: the power of ten of its first
    // significant digit decides, and strtod the one case at the edge.
    bool withinDouble(const char *start, const char *digits, const char *digitsEnd, const char *fraction,
        const char *fractionEnd, long long exponent) const
    {
        long long lead = 0;
        const char *d = digits;
        while (d != digitsEnd && *d == '0')
            ++d;
        if (d != digitsEnd) {
            lead = digitsEnd - d - 1;
        } else {
            d = fraction;
            while (d != fractionEnd && *d == '0')
                ++d;
            if (d == fractionEnd)
                return true; // zero
            lead = -(d - fraction + 1);
        }
        lead += exponent;
        if (lead < 308)
            return true;
        if (lead > 308)
            return false;
        const std::string token(start, size_t(m_p - start));
        return std::isfinite(std::strtod(token.c_str(), nullptr));
    }

    MainTypeField numberField(const char *start, bool whole) const
    {
        MainTypeField field;
        field.kind = MainTypeField::Kind::Mistyped;
        const bool negative = *start == '-';
        if (whole) {
            // Exact, as the parser reads whole numbers.
            std::uint64_t value = 0;
            for (const char *d = start + (negative ? 1 : 0); d != m_p; ++d) {
                value = value * 10 + std::uint64_t(*d - '0');
                if (value > std::uint64_t(INT_MAX) + 1)
                    return field;
            }
            if (!negative && value > std::uint64_t(INT_MAX))
                return field;
            field.kind = MainTypeField::Kind::Int;
            field.value = negative ? int(-std::int64_t(value)) : int(value);
            return field;
        }
        const std::string token(start, size_t(m_p - start));
        const double value = std::strtod(token.c_str(), nullptr);
        if (!(value >= double(INT_MIN) && value <= double(INT_MAX)))
            return field;
        field.kind = MainTypeField::Kind::Int;
        field.value = int(value);
        return field;
    }

    bool literal(std::string_view word)
    {
        if (size_t(m_end - m_p) < word.size() || std::string_view(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }

    // A member's name and its colon; a top-level "MainType" marks the value
    // that follows as the one to read.
    bool memberName()
    {
        if (m_p == m_end || *m_p != '"')
            return false;
        bool isMainType = false;
        if (!string(m_depth == 1 ? &isMainType : nullptr))
            return false;
        m_readNext = isMainType;
        skipBlanks();
        if (m_p == m_end || *m_p != ':')
            return false;
        ++m_p;
        return true;
    }

    // The value at the cursor and everything nested in it.
    bool scan()
    {
        for (;;) {
            if (!skipSpace() || m_p == m_end)
                return false;
            const char c = *m_p;
            const bool read = m_readNext;
            m_readNext = false;
            if (c == '{' || c == '[') {
                if (read)
                    m_field.kind = MainTypeField::Kind::Mistyped;
                if (m_depth == kMaxDepth)
                    return false;
                m_inObject[size_t(m_depth++)] = c == '{';
                ++m_p;
                if (c == '{' ? !skipSpace() : (skipBlanks(), false))
                    return false;
                if (m_p == m_end)
                    return false;
                if (*m_p == (c == '{' ? '}' : ']')) {
                    ++m_p;
                    --m_depth;
                } else {
                    if (c == '{' && !memberName())
                        return false;
                    continue;
                }
            } else if (!scalar(c, read)) {
                return false;
            }
            // After a value: the next member or element, or the ends of containers.
            for (;;) {
                if (m_depth == 0)
                    return true; // what follows the root is not read, as the parser does
                if (!skipSpace() || m_p == m_end)
                    return false;
                const bool inObject = m_inObject[size_t(m_depth - 1)];
                if (*m_p == ',') {
                    ++m_p;
                    if (inObject && (!skipSpace() || !memberName()))
                        return false;
                    break;
                }
                if (*m_p != (inObject ? '}' : ']'))
                    return false;
                ++m_p;
                --m_depth;
            }
        }
    }

    bool scalar(char c, bool read)
    {
        MainTypeField field;
        field.kind = MainTypeField::Kind::Mistyped;
        bool ok = false;
        if (c == '"') {
            ok = string();
        } else if (c == '-' || isDigit(c)) {
            ok = number(read ? &field : nullptr);
        } else if (c == 't') {
            ok = literal("true");
        } else if (c == 'f') {
            ok = literal("false");
        } else if (c == 'n') {
            ok = literal("null");
            field.kind = MainTypeField::Kind::Absent;
        }
        if (ok && read)
            m_field = field;
        return ok;
    }

    const char *m_p;
    const char *m_end;
    int m_depth = 0;
    std::bitset<kMaxDepth> m_inObject;
    bool m_readNext = false; // the next value is the top-level MainType
    MainTypeField m_field { MainTypeField::Kind::Absent, 0 };
};

} // namespace

MainTypeField mainType(std::string_view text)
{
    return Scanner(text).run();
}

} // namespace JsonScan
