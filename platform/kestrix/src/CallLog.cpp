#include "CallLog.h"

#include "Errors.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

namespace kx {

namespace {

thread_local int t_lastError = 0;

struct Script
{
    std::mutex mutex;
    std::vector<kestrix::CallRecord> records;
    uint64_t base = 0; // index of records[0]
    std::map<std::string, std::vector<int>> failures;
    std::map<std::string, int> delays;
};

Script &script()
{
    static Script *s = new Script; // lives to the end of the process: threads may log late
    return *s;
}

// The log keeps the most recent calls; a long-running program must not grow without end.
constexpr size_t kMaxRecords = 100000;

std::string timeText(int y, int mo, int d, int h, int mi, int s)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return buf;
}

} // namespace

void setLastError(int error)
{
    t_lastError = error;
}

int lastError()
{
    return t_lastError;
}

std::string arg(int v)
{
    return std::to_string(v);
}

std::string arg(unsigned v)
{
    return std::to_string(v);
}

std::string arg(unsigned short v)
{
    return std::to_string(v);
}

std::string arg(float v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(v));
    return buf;
}

std::string arg(const char *text)
{
    return text ? "\"" + std::string(text) + "\"" : "null";
}

std::string argText(const char *text, int size)
{
    if (!text)
        return "null";
    if (size < 0)
        size = 0;
    return "\"" + std::string(text, strnlen(text, size_t(size))) + "\"";
}

std::string arg(const void *p)
{
    if (!p)
        return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

std::string arg(const TRV_STREAM_REQUEST *r)
{
    if (!r)
        return "null";
    return "{channel=" + arg(r->channel) + ",streamType=" + arg(r->streamType) + "}";
}

std::string arg(const TRV_FILE_DATA *f)
{
    if (!f)
        return "null";
    return "{channel=" + arg(f->channel) + ",fileSize=" + arg(f->fileSize)
        + ",fileName=" + argText(f->fileName, sizeof f->fileName) + ",begin="
        + timeText(
            f->begin.year, f->begin.month, f->begin.day, f->begin.hour, f->begin.minute, f->begin.second)
        + ",end=" + timeText(f->end.year, f->end.month, f->end.day, f->end.hour, f->end.minute, f->end.second)
        + ",streamType=" + arg(f->streamType) + "}";
}

std::string arg(const TRV_PLAYBACK_BY_TIME *r)
{
    if (!r)
        return "null";
    return "{channel=" + arg(r->channel) + ",fileType=" + arg(r->fileType) + ",begin="
        + timeText(
            r->begin.year, r->begin.month, r->begin.day, r->begin.hour, r->begin.minute, r->begin.second)
        + ",end=" + timeText(r->end.year, r->end.month, r->end.day, r->end.hour, r->end.minute, r->end.second)
        + ",streamType=" + arg(r->streamType) + ",text1=" + argText(r->text1, sizeof r->text1)
        + ",text2=" + argText(r->text2, sizeof r->text2) + "}";
}

std::string arg(const TRV_FIND_CONDITION *c)
{
    if (!c)
        return "null";
    return "{channel=" + arg(c->channel) + ",fileType=" + arg(c->fileType)
        + ",streamType=" + arg(c->streamType) + ",begin="
        + timeText(
            c->begin.year, c->begin.month, c->begin.day, c->begin.hour, c->begin.minute, c->begin.second)
        + ",end=" + timeText(c->end.year, c->end.month, c->end.day, c->end.hour, c->end.minute, c->end.second)
        + "}";
}

std::string arg(const TRV_APP_INFO *a)
{
    if (!a)
        return "null";
    return "{appId=" + argText(a->appId, sizeof a->appId) + ",appKey=" + argText(a->appKey, sizeof a->appKey)
        + ",appSecret=" + argText(a->appSecret, sizeof a->appSecret) + ",cardKind=" + arg(a->cardKind) + "}";
}

std::string arg(const TRV_STATE_QUERY *q)
{
    if (!q)
        return "null";
    return "{kind=" + arg(q->kind) + ",channel=" + arg(q->channel) + ",reserved=" + arg(q->reserved) + "}";
}

Call::Call(const char *function, std::vector<std::string> args, int waitMs)
{
    Script &s = script();
    int delay = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.records.size() >= kMaxRecords) {
            const size_t drop = kMaxRecords / 2;
            s.records.erase(s.records.begin(), s.records.begin() + long(drop));
            s.base += drop;
        }
        kestrix::CallRecord r;
        r.index = s.base + s.records.size();
        r.function = function;
        r.args = std::move(args);
        m_index = r.index;
        s.records.push_back(std::move(r));
        auto f = s.failures.find(function);
        if (f != s.failures.end() && !f->second.empty()) {
            m_scripted = f->second.front();
            f->second.erase(f->second.begin());
        }
        auto d = s.delays.find(function);
        if (d != s.delays.end())
            delay = d->second;
    }
    if (delay > 0) {
        if (waitMs >= 0 && delay > waitMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            if (!m_scripted)
                m_scripted = TRV_ERR_TIMEOUT;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
    }
}

Call::~Call()
{
    Script &s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (m_index >= s.base && m_index - s.base < s.records.size()) {
        kestrix::CallRecord &r = s.records[size_t(m_index - s.base)];
        r.result = m_result;
        r.returned = true;
    }
}

int Call::ok(int value)
{
    setLastError(TRV_NOERROR);
    m_result = value;
    return value;
}

int Call::fail(int error)
{
    setLastError(error);
    m_result = error;
    return error;
}

int Call::keep(int value)
{
    m_result = value;
    return value;
}

int Call::failBool(int error)
{
    setLastError(error);
    m_result = 0;
    return 0;
}

void resetCallScript()
{
    Script &s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failures.clear();
    s.delays.clear();
    s.base += s.records.size();
    s.records.clear();
}

void failNextCall(const std::string &function, int error, int times)
{
    Script &s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (int i = 0; i < times; ++i)
        s.failures[function].push_back(error);
}

void setCallDelayMs(const std::string &function, int ms)
{
    Script &s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (ms > 0)
        s.delays[function] = ms;
    else
        s.delays.erase(function);
}

std::vector<kestrix::CallRecord> callRecords()
{
    Script &s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.records;
}

void clearCallRecords()
{
    Script &s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.base += s.records.size();
    s.records.clear();
}

} // namespace kx
