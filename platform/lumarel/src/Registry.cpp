#include "Registry.h"

#include "PlayPort.h"

#include <array>
#include <atomic>
#include <mutex>

namespace {

struct Table
{
    std::mutex mutex;
    std::array<std::shared_ptr<PlayPort>, TRV_PLAY_MAX_PORT> ports;
    std::array<std::atomic<int>, TRV_PLAY_MAX_PORT> errors {};
    std::mutex callMutex;
    std::vector<std::string> calls;
};

Table &table()
{
    static Table t;
    return t;
}

// The log keeps the most recent calls; tests clear it before they look.
constexpr size_t kMaxCalls = 50000;

void append(std::string entry)
{
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.callMutex);
    if (t.calls.size() >= kMaxCalls)
        t.calls.erase(t.calls.begin(), t.calls.begin() + kMaxCalls / 2);
    t.calls.push_back(std::move(entry));
}

} // namespace

namespace Registry {

bool validPort(int port)
{
    return port >= 0 && port < TRV_PLAY_MAX_PORT;
}

std::shared_ptr<PlayPort> port(int port)
{
    if (!validPort(port))
        return nullptr;
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.ports[size_t(port)];
}

bool install(int port, const std::shared_ptr<PlayPort> &object)
{
    if (!validPort(port))
        return false;
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.ports[size_t(port)])
        return false;
    t.ports[size_t(port)] = object;
    return true;
}

std::shared_ptr<PlayPort> remove(int port)
{
    if (!validPort(port))
        return nullptr;
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::shared_ptr<PlayPort> object;
    object.swap(t.ports[size_t(port)]);
    return object;
}

void setError(int port, int error)
{
    table().errors[size_t(validPort(port) ? port : 0)] = error;
}

int lastError(int port)
{
    return validPort(port) ? table().errors[size_t(port)].load() : TRV_PLAY_ERR_PARA;
}

void logCall(const char *name, int port)
{
    append(std::string(name) + '(' + std::to_string(port) + ')');
}

void logCall(const char *name)
{
    append(name);
}

std::vector<std::string> calls()
{
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.callMutex);
    return t.calls;
}

void clearCalls()
{
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.callMutex);
    t.calls.clear();
}

} // namespace Registry
