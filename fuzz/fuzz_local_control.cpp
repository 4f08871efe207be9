// Feeds arbitrary text to the control requests' JSON reading and checks that
// a text put into a compact reply always reads back as the same JSON string.
#include "GeneralSocket.h"
#include "common/Json.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    Json::Value root;
    if (JsonUtil::parse(text, &root) && root.isObject()) {
        LocalCtrlRequest request;
        GeneralSocket::parseWndMsg(root, &request);
    }
    // Any bytes, quoted for a compact reply, form one valid JSON string.
    const QByteArray quoted
        = GeneralSocket::jsonText(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    Json::Value back;
    if (!JsonUtil::parse("[" + quoted.toStdString() + "]", &back) || !back.isArray() || back.size() != 1
        || !back[0].isString())
        std::abort();
    return 0;
}
