#pragma once

#include <json/value.h>

#include <QString>
#include <string>

// JSON helpers shared by both programs. jsoncpp throws on type mismatches
// (asInt on a text, operator[] on an array); every read here checks the type
// first, so a page's malformed message can never throw out of a handler.
namespace JsonUtil {

// Parses like jsoncpp's Reader with comments allowed. Returns false for
// anything that is not valid JSON, including input that makes the parser throw.
bool parse(const std::string &text, Json::Value *root);
bool parse(const QString &text, Json::Value *root);

// One line without blanks, members in jsoncpp's order, ending in a line feed.
std::string writeCompact(const Json::Value &value);
QString writeCompactText(const Json::Value &value);
// One member per line with three-blank indentation, ending in a line feed.
std::string writeStyled(const Json::Value &value);

// The member `key` of `object`, or null when `object` is not an object or has
// no such member. Never throws and never adds a member.
const Json::Value &member(const Json::Value &object, const char *key);

// Typed reads: true and the value when the member exists with a fitting type.
bool readInt(const Json::Value &object, const char *key, int *out);
bool readInt64(const Json::Value &object, const char *key, qint64 *out);
bool readDouble(const Json::Value &object, const char *key, double *out);
bool readBool(const Json::Value &object, const char *key, bool *out);
bool readString(const Json::Value &object, const char *key, std::string *out);
bool readString(const Json::Value &object, const char *key, QString *out);

// Typed reads with a fallback for a missing or mistyped member.
int intOr(const Json::Value &object, const char *key, int fallback);
QString stringOr(const Json::Value &object, const char *key, const QString &fallback = QString());

// jsoncpp's lenient conversions (asInt, asString), without the exception:
// null, numbers and booleans convert, a number that fits for an int; false
// for a value that jsoncpp would refuse (then `out` is left alone).
bool convertInt(const Json::Value &value, int *out);
bool convertString(const Json::Value &value, std::string *out);

// Keys of a request: a missing key reads as 0 or the empty text; a key of
// another type throws std::invalid_argument, so that the request counts as
// one that cannot be analysed (the player's dispatcher then logs it and sends
// no reply).
int intKey(const Json::Value &object, const char *key);
QString textKey(const Json::Value &object, const char *key);

// A value that converts to int without loss of range (ints, in-range unsigned
// and whole or fractional doubles within int range, as jsoncpp's asInt does).
bool isIntLike(const Json::Value &value);

} // namespace JsonUtil
