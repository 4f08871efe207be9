// Feeds arbitrary texts to the MainType scan and checks it against the whole
// parse: a text the scan accepts is one the parse accepts, with the same
// MainType.
#include "common/Json.h"
#include "common/JsonScan.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const JsonScan::MainTypeField field = JsonScan::mainType(text);
    if (field.kind == JsonScan::MainTypeField::Kind::NotObject)
        return 0;
    Json::Value root;
    if (!JsonUtil::parse(text, &root) || !root.isObject())
        std::abort();
    const Json::Value &mainType = JsonUtil::member(root, "MainType");
    int value = 0;
    switch (field.kind) {
    case JsonScan::MainTypeField::Kind::Absent:
        if (!mainType.isNull())
            std::abort();
        break;
    case JsonScan::MainTypeField::Kind::Int:
        if (!JsonUtil::readInt(root, "MainType", &value) || value != field.value)
            std::abort();
        break;
    case JsonScan::MainTypeField::Kind::Mistyped:
        if (mainType.isNull() || JsonUtil::isIntLike(mainType))
            std::abort();
        break;
    case JsonScan::MainTypeField::Kind::NotObject:
        break;
    }
    return 0;
}
