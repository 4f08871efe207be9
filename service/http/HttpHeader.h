#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

// HTTP message heads: a start line of three parts and named fields, parsed
// from and written back to text. The socket server classifies its requests
// with these.

// A header value kept as text, convertible to and from numbers and bools.
class variant
{
public:
    variant() = default;
    variant(const std::string &text);
    variant(const char *text);
    variant(bool value);
    variant(int8_t value);
    variant(uint8_t value);
    variant(int16_t value);
    variant(uint16_t value);
    variant(int32_t value);
    variant(uint32_t value);
    variant(int64_t value);
    variant(uint64_t value);
    variant(const variant &other) = default;
    variant &operator=(const variant &other) = default;
    virtual ~variant() = default;

    const std::string &text() const { return m_text; }

    // Stream input of the text; 0 when it does not start with a number.
    operator int8_t() const;
    operator uint8_t() const;
    operator int16_t() const;
    operator uint16_t() const;
    operator int32_t() const;
    operator uint32_t() const;
    operator int64_t() const;
    operator uint64_t() const;
    operator float() const;
    operator double() const;
    // True exactly for the text "true".
    explicit operator bool() const { return m_text == "true"; }

private:
    std::string m_text;
};

// ASCII A to Z lowered; other bytes unchanged.
std::string toLowerString(const std::string &text);

class httpheader
{
public:
    // Lower-cased name -> (name as written, value).
    using FieldMap = std::map<std::string, std::pair<std::string, variant>>;

    httpheader();
    explicit httpheader(const std::string &head);
    virtual ~httpheader() = default;

    // Reads the head up to the first empty line: a start line of exactly
    // three parts separated by single blanks, then "name: value" lines (the
    // value is everything after the first colon; both trimmed of blanks; a
    // later line with the same name replaces the earlier one). Lines end in
    // "\r\n" or "\n". False, with everything cleared, for a bad start line.
    virtual bool parse(const std::string &head);

    // The start line's parts joined by blanks, one "name:value" line per
    // field, lines joined by "\r\n", and "\r\n\r\n" at the end.
    std::string serializeFields() const;

    // The field's value, case-insensitive name; empty when absent.
    std::string field(const std::string &name) const;
    bool hasField(const std::string &name) const;
    void setField(const std::string &name, const variant &value);
    const FieldMap &fields() const { return m_fields; }

protected:
    const std::string &part(const char *key) const;
    void setPart(const char *key, const std::string &value);

private:
    void clear();

    FieldMap m_fields;
    std::map<std::string, std::string> m_startLine;
};

class requesethttpheader : public httpheader
{
public:
    using httpheader::httpheader;
    const std::string &method() const { return part("1"); }
    const std::string &target() const { return part("2"); }
    const std::string &version() const { return part("3"); }
    void setMethod(const std::string &v) { setPart("1", v); }
    void setTarget(const std::string &v) { setPart("2", v); }
    void setVersion(const std::string &v) { setPart("3", v); }
};

class responsehttpheader : public httpheader
{
public:
    using httpheader::httpheader;
    const std::string &version() const { return part("1"); }
    const std::string &status() const { return part("2"); }
    const std::string &reason() const { return part("3"); }
    void setVersion(const std::string &v) { setPart("1", v); }
    void setStatus(const std::string &v) { setPart("2", v); }
    void setReason(const std::string &v) { setPart("3", v); }
};
