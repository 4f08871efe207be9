#pragma once

#include <vector>

// Page messages that carry a credential, spelt every way the message parser
// (jsoncpp, comments allowed) reads it and some ways it does not: comments
// hiding quotes, escapes, nesting, duplicates, broken texts. Each one's secret
// is unique, so a leak in a log names its row.
struct SecretVariant
{
    const char *name;
    const char *text; // the message
    const char *secret; // the credential as the parser reads it
    const char *spelt; // how the message spells it, when not as `secret`
    bool parserReads; // whether the parser reads `secret` from `text`
};

inline const std::vector<SecretVariant> &secretVariants()
{
    static const std::vector<SecretVariant> variants {
        { "plain", R"({"Device":{"User":"admin","Password":"Pw01x"}})", "Pw01x", nullptr, true },
        { "block comment with a quote before the name",
            R"({"Device":{"User":"admin",/*"*/"Password":"Pw02x"}})", "Pw02x", nullptr, true },
        { "line comment with a quote before the name",
            "{\"Device\":{\"User\":\"admin\",//\"\n\"Password\":\"Pw03x\"}}", "Pw03x", nullptr, true },
        { "line comment ended by a carriage return",
            "{\"Device\":{\"User\":\"admin\",//\"\r\"Password\":\"Pw04x\"}}", "Pw04x", nullptr, true },
        { "comment between colon and value", R"({"Device":{"User":"admin","Password":/* x */"Pw05x"}})",
            "Pw05x", nullptr, true },
        { "comment with a quote between colon and value", R"({"User":"admin","Password":/*"*/"Pw06x"})",
            "Pw06x", nullptr, true },
        { "line comment with a quote between colon and value",
            "{\"User\":\"admin\",\"Password\"://\"\n\"Pw07x\"}", "Pw07x", nullptr, true },
        { "comments and blanks around the value", "{\"Password\" :\t//x\r\n/*y*/ \"Pw08x\" /**/}", "Pw08x",
            nullptr, true },
        { "comment first in the object", R"({/*"*/"Password":"Pw09x","User":"admin"})", "Pw09x", nullptr,
            true },
        { "token behind a comment", R"({"Device":{"LoginType":2,/*"*/"tcsToken":"Tk10x"}})", "Tk10x", nullptr,
            true },
        { "comment closed by a slash it opened with", R"({"User":"admin",/*/"*/"Password":"Pw11x"})", "Pw11x",
            nullptr, true },
        { "comment opener inside a comment", R"({"User":"admin",/* /* */"Password":"Pw12x"})", "Pw12x",
            nullptr, true },
        { "comment marks inside strings", R"({"User":"/*","Password":"Pw13x","Note":"*/"})", "Pw13x", nullptr,
            true },
        { "line comment mark inside a string", R"({"Url":"http://x","Password":"Pw14x"})", "Pw14x", nullptr,
            true },
        { "escaped quote and backslash in the value", R"({"Password":"Pw15x\"\\\u0022,\"User\":\"a"})",
            "Pw15x", nullptr, true },
        { "escaped backslash before a closing quote", R"({"User":"a\\","Password":"Pw16x"})", "Pw16x",
            nullptr, true },
        { "escaped quote in the text before", R"({"User":"\u0022\"","Password":"Pw17x"})", "Pw17x", nullptr,
            true },
        { "name spelt with an escape", R"({"Pass\u0077ord":"Pw18x"})", "Pw18x", nullptr, true },
        { "name all escapes, value escaped", R"({"\u0074\u0063\u0073Token":"\u0054k19x"})", "Tk19x",
            R"(\u0054k19x)", true },
        { "secret inside an array of objects", R"({"Devices":[{"User":"a"},{"Password":/*]*/"Pw20x"}]})",
            "Pw20x", nullptr, true },
        { "object value with a brace in a comment", R"({"Msg":32,"key":{/*}*/"key":"Ky21x","iv":""}})",
            "Ky21x", nullptr, true },
        { "duplicate names, the last one counts", R"({"Password":"decoy","Password":"Pw22x"})", "Pw22x",
            nullptr, true },
        { "number value behind a comment", R"({"Token":/**/ 2323023})", "2323023", nullptr, true },
        { "array root", R"([{"Password":"Pw24x"}])", "Pw24x", nullptr, true },
        { "name as a value first", R"({"User":"Password","Password":"Pw25x"})", "Pw25x", nullptr, true },
        // Texts the parser refuses or stops before: nothing is read, and still
        // nothing of the credential is logged.
        { "comment between name and colon", R"({"User":"admin","Password"/*"*/:"Pw26x"})", "Pw26x", nullptr,
            false },
        { "unterminated comment before the name", R"({"User":"admin",/*"Password":"Pw27x"})", "Pw27x",
            nullptr, false },
        { "unterminated comment before the value", R"({"User":"admin","Password":/*"Pw28x"})", "Pw28x",
            nullptr, false },
        { "unterminated value", R"({"User":"admin","Password":"Pw29x)", "Pw29x", nullptr, false },
        { "commented-out member", R"({"User":"admin"/*,"Password":"Pw30x"*/})", "Pw30x", nullptr, false },
        { "second root after the first", R"({"User":"admin"} {"Password":"Pw31x"})", "Pw31x", nullptr,
            false },
    };
    return variants;
}
