#include "HttpHeader.h"

#include <sstream>

namespace {

template<typename T> std::string format(T value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

template<typename T> T scan(const std::string &text)
{
    std::istringstream in(text);
    T value {};
    in >> value;
    return in.fail() ? T {} : value;
}

// 8-bit numbers are read and written as numbers, not as characters.
template<typename Wide, typename Narrow> Narrow scanNarrow(const std::string &text)
{
    return Narrow(scan<Wide>(text));
}

std::string trimBlanks(const std::string &text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

const std::string kEmpty;

} // namespace

variant::variant(const std::string &text)
    : m_text(text)
{ }
variant::variant(const char *text)
    : m_text(text ? text : "")
{ }
variant::variant(bool value)
    : m_text(value ? "true" : "false")
{ }
variant::variant(int8_t value)
    : m_text(format(int(value)))
{ }
variant::variant(uint8_t value)
    : m_text(format(unsigned(value)))
{ }
variant::variant(int16_t value)
    : m_text(format(value))
{ }
variant::variant(uint16_t value)
    : m_text(format(value))
{ }
variant::variant(int32_t value)
    : m_text(format(value))
{ }
variant::variant(uint32_t value)
    : m_text(format(value))
{ }
variant::variant(int64_t value)
    : m_text(format(value))
{ }
variant::variant(uint64_t value)
    : m_text(format(value))
{ }

variant::operator int8_t() const
{
    return scanNarrow<int, int8_t>(m_text);
}
variant::operator uint8_t() const
{
    return scanNarrow<unsigned, uint8_t>(m_text);
}
variant::operator int16_t() const
{
    return scan<int16_t>(m_text);
}
variant::operator uint16_t() const
{
    return scan<uint16_t>(m_text);
}
variant::operator int32_t() const
{
    return scan<int32_t>(m_text);
}
variant::operator uint32_t() const
{
    return scan<uint32_t>(m_text);
}
variant::operator int64_t() const
{
    return scan<int64_t>(m_text);
}
variant::operator uint64_t() const
{
    return scan<uint64_t>(m_text);
}
variant::operator float() const
{
    return scan<float>(m_text);
}
variant::operator double() const
{
    return scan<double>(m_text);
}

std::string toLowerString(const std::string &text)
{
    std::string out = text;
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

httpheader::httpheader()
{
    clear();
}

httpheader::httpheader(const std::string &head)
{
    clear();
    parse(head);
}

void httpheader::clear()
{
    m_fields.clear();
    m_startLine = { { "1", std::string() }, { "2", std::string() }, { "3", std::string() } };
}

bool httpheader::parse(const std::string &head)
{
    clear();
    size_t end = head.find("\r\n\r\n");
    const size_t bare = head.find("\n\n");
    if (bare != std::string::npos && (end == std::string::npos || bare < end))
        end = bare;
    const std::string text = end == std::string::npos ? head : head.substr(0, end);

    size_t pos = 0;
    bool first = true;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = nl + 1;
        if (first) {
            first = false;
            const size_t a = line.find(' ');
            const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
            if (a == std::string::npos || b == std::string::npos || line.find(' ', b + 1) != std::string::npos
                || a == 0 || b == a + 1 || b + 1 == line.size()) {
                clear();
                return false;
            }
            m_startLine["1"] = line.substr(0, a);
            m_startLine["2"] = line.substr(a + 1, b - a - 1);
            m_startLine["3"] = line.substr(b + 1);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = trimBlanks(line.substr(0, colon));
        if (name.empty())
            continue;
        m_fields[toLowerString(name)] = { name, variant(trimBlanks(line.substr(colon + 1))) };
    }
    return true;
}

std::string httpheader::serializeFields() const
{
    std::string out = part("1") + " " + part("2") + " " + part("3");
    for (const auto &entry : m_fields)
        out += "\r\n" + entry.second.first + ":" + entry.second.second.text();
    out += "\r\n\r\n";
    return out;
}

std::string httpheader::field(const std::string &name) const
{
    const auto it = m_fields.find(toLowerString(name));
    return it == m_fields.end() ? std::string() : it->second.second.text();
}

bool httpheader::hasField(const std::string &name) const
{
    return m_fields.count(toLowerString(name)) != 0;
}

void httpheader::setField(const std::string &name, const variant &value)
{
    m_fields[toLowerString(name)] = { name, value };
}

const std::string &httpheader::part(const char *key) const
{
    const auto it = m_startLine.find(key);
    return it == m_startLine.end() ? kEmpty : it->second;
}

void httpheader::setPart(const char *key, const std::string &value)
{
    m_startLine[key] = value;
}
