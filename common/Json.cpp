#include "Json.h"

#include <json/reader.h>
#include <json/writer.h>

#include <exception>
#include <limits>
#include <stdexcept>

// jsoncpp marks Reader and FastWriter deprecated; their exact behaviour (comments
// allowed, any root value, one-line output ending in a line feed) is what the
// message protocol uses, so they stay, in this one place.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace JsonUtil {

bool parse(const std::string &text, Json::Value *root)
{
    try {
        Json::Reader reader(Json::Features::all());
        Json::Value value;
        if (!reader.parse(text, value, false))
            return false;
        *root = std::move(value);
        return true;
    } catch (const std::exception &) {
        // The reader throws on nesting deeper than its stack limit.
        return false;
    }
}

bool parse(const QString &text, Json::Value *root)
{
    return parse(text.toStdString(), root);
}

std::string writeCompact(const Json::Value &value)
{
    Json::FastWriter writer;
    return writer.write(value);
}

QString writeCompactText(const Json::Value &value)
{
    return QString::fromStdString(writeCompact(value));
}

std::string writeStyled(const Json::Value &value)
{
    return value.toStyledString();
}

const Json::Value &member(const Json::Value &object, const char *key)
{
    static const Json::Value null;
    if (!object.isObject())
        return null;
    const Json::Value *found = object.find(key, key + std::char_traits<char>::length(key));
    return found ? *found : null;
}

bool isIntLike(const Json::Value &value)
{
    if (value.isInt())
        return true;
    if (value.isDouble()) {
        const double d = value.asDouble();
        return d >= double(std::numeric_limits<int>::min()) && d <= double(std::numeric_limits<int>::max());
    }
    return false;
}

bool convertInt(const Json::Value &value, int *out)
{
    if (!value.isConvertibleTo(Json::intValue))
        return false;
    *out = value.asInt();
    return true;
}

bool convertString(const Json::Value &value, std::string *out)
{
    if (!value.isConvertibleTo(Json::stringValue))
        return false;
    *out = value.asString();
    return true;
}

bool readInt(const Json::Value &object, const char *key, int *out)
{
    const Json::Value &v = member(object, key);
    if (!isIntLike(v))
        return false;
    *out = v.asInt();
    return true;
}

bool readInt64(const Json::Value &object, const char *key, qint64 *out)
{
    const Json::Value &v = member(object, key);
    if (v.isInt64()) {
        *out = v.asInt64();
        return true;
    }
    if (v.isDouble()) {
        const double d = v.asDouble();
        if (d >= -9.2e18 && d <= 9.2e18) {
            *out = qint64(d);
            return true;
        }
    }
    return false;
}

bool readDouble(const Json::Value &object, const char *key, double *out)
{
    const Json::Value &v = member(object, key);
    if (!v.isNumeric())
        return false;
    *out = v.asDouble();
    return true;
}

bool readBool(const Json::Value &object, const char *key, bool *out)
{
    const Json::Value &v = member(object, key);
    if (!v.isBool())
        return false;
    *out = v.asBool();
    return true;
}

bool readString(const Json::Value &object, const char *key, std::string *out)
{
    const Json::Value &v = member(object, key);
    if (!v.isString())
        return false;
    *out = v.asString();
    return true;
}

bool readString(const Json::Value &object, const char *key, QString *out)
{
    std::string s;
    if (!readString(object, key, &s))
        return false;
    *out = QString::fromStdString(s);
    return true;
}

int intOr(const Json::Value &object, const char *key, int fallback)
{
    int v = fallback;
    return readInt(object, key, &v) ? v : fallback;
}

QString stringOr(const Json::Value &object, const char *key, const QString &fallback)
{
    QString v;
    return readString(object, key, &v) ? v : fallback;
}

} // namespace JsonUtil

#pragma GCC diagnostic pop

int JsonUtil::intKey(const Json::Value &object, const char *key)
{
    int value = 0;
    if (!convertInt(member(object, key), &value))
        throw std::invalid_argument(key);
    return value;
}

QString JsonUtil::textKey(const Json::Value &object, const char *key)
{
    const Json::Value &value = member(object, key);
    if (value.isNull())
        return QString();
    if (!value.isString())
        throw std::invalid_argument(key);
    return QString::fromStdString(value.asString());
}
