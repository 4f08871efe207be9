#pragma once

// The record of every call of the C interface, with the scripted errors and
// delays that the test control sets per function.

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kx {

// Argument texts of the call log.
std::string arg(int v);
std::string arg(unsigned v);
std::string arg(unsigned short v);
std::string arg(float v);
std::string arg(const char *text);
std::string arg(const void *p);
std::string arg(const TRV_STREAM_REQUEST *r);
std::string arg(const TRV_FILE_DATA *f);
std::string arg(const TRV_PLAYBACK_BY_TIME *r);
std::string arg(const TRV_FIND_CONDITION *c);
std::string arg(const TRV_APP_INFO *a);
std::string arg(const TRV_STATE_QUERY *q);
template<class R, class... A> std::string arg(R (*f)(A...))
{
    uintptr_t v = 0;
    std::memcpy(&v, &f, sizeof f);
    return arg(reinterpret_cast<const void *>(v));
}
// A text of known size that need not be terminated within it.
std::string argText(const char *text, int size);

// One call in progress: logs it, applies the scripted delay and error.
class Call
{
public:
    // waitMs: the call's own time-out, or -1 when it has none.
    Call(const char *function, std::vector<std::string> args, int waitMs = -1);
    ~Call();
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    // The scripted error for this call (a failNext error or a time-out from a delay), or 0.
    int scripted() const { return m_scripted; }

    // Results: record the value and set the last error.
    int ok(int value); // success, last error 0
    int fail(int error); // returns the error number
    int failBool(int error); // returns 0
    int keep(int value); // records the value, leaves the last error alone

private:
    uint64_t m_index;
    int64_t m_result = 0;
    int m_scripted = 0;
};

void resetCallScript();
void failNextCall(const std::string &function, int error, int times);
void setCallDelayMs(const std::string &function, int ms);
std::vector<kestrix::CallRecord> callRecords();
void clearCallRecords();

} // namespace kx
