#pragma once

#include <cstddef>
#include <string_view>

// Reads what routing a page message needs, its top-level "MainType", in one
// pass over the text without building the document: no allocation, memory
// that does not grow with the text, so a message near the size cap (an array
// of millions of numbers) costs a linear scan and nothing more. The text is
// checked as JSON on the way, with the leniencies of the parser the programs
// use (JsonUtil::parse): comments, raw control characters in strings, leading
// zeros, and anything after the root value are accepted; a text this scan
// accepts, JsonUtil::parse accepts too, and the MainType read is the one
// JsonUtil::readInt would read (the last of repeated members; numbers within
// the int range, fractions cut towards zero).
namespace JsonScan {

// Nesting deeper than this is refused, as the parser refuses it.
constexpr int kMaxDepth = 512;

struct MainTypeField
{
    enum class Kind {
        NotObject, // not JSON, or JSON whose root is not an object
        Absent, // an object without "MainType", or with "MainType" null
        Int, // an object whose "MainType" is a number within the int range: `value`
        Mistyped, // an object whose "MainType" is some other value
    };
    Kind kind = Kind::NotObject;
    int value = 0;
};

MainTypeField mainType(std::string_view text);

} // namespace JsonScan
