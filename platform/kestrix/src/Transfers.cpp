#include "Sessions.h"

#include <algorithm>
#include <climits>

namespace kx {

FileTransfer::FileTransfer(std::shared_ptr<Login> l, const PendingFile &announced, std::FILE *in,
    TRV_FileTransferCallBack callback, void *user)
    : Session(Kind::Transfer, std::move(l))
    , m_announced(announced)
    , m_in(in)
{
    m_callback.set(callback, user);
}

FileTransfer::~FileTransfer()
{
    if (m_in)
        std::fclose(m_in);
}

void FileTransfer::closeCallbacks()
{
    m_callback.remove();
}

void FileTransfer::run()
{
    const int64_t rate = login->device->spec.downloadRate;
    std::string content;
    std::vector<char> buffer(64 * 1024);
    bool readError = false;
    const Clock::time_point start = Clock::now();
    while (!stopping()) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), m_in);
        content.append(buffer.data(), n);
        if (n < buffer.size()) {
            readError = std::ferror(m_in) != 0;
            break;
        }
        if (rate > 0
            && !sleepUntil(start + std::chrono::microseconds(int64_t(content.size()) * 1000000 / rate)))
            return;
    }
    std::fclose(m_in);
    m_in = nullptr;
    if (stopping())
        return;
    int state = TRV_TRANSFER_DONE;
    int code = 0;
    if (readError) {
        state = TRV_TRANSFER_FAILED;
        code = TRV_ERR_FILE;
    } else if (login->device->spec.fileSendError != 0) {
        state = TRV_TRANSFER_FAILED;
        code = login->device->spec.fileSendError;
    } else if (m_announced.size >= 0 && m_announced.size != int64_t(content.size())) {
        // The device received a different number of bytes than it was told.
        state = TRV_TRANSFER_FAILED;
        code = TRV_ERR_PARAMETER;
    } else {
        std::lock_guard<std::mutex> lock(login->device->mutex);
        login->device->received.emplace_back(m_announced.name, content);
        login->device->receivedBodies.push_back(m_announced.body);
    }
    m_callback.call([&](TRV_FileTransferCallBack cb, void *user) { cb(handle, state, code, user); });
}

Upgrade::Upgrade(std::shared_ptr<Login> l, const std::string &path, int64_t size, const std::string &version,
    TRV_UpgradeCallBack callback, void *user)
    : Session(Kind::Upgrade, std::move(l))
    , m_path(path)
    , m_size(size)
    , m_version(version)
{
    m_callback.set(callback, user);
}

Upgrade::~Upgrade()
{
    std::lock_guard<std::mutex> lock(login->device->mutex);
    if (!m_released)
        login->device->upgrading = false;
}

void Upgrade::closeCallbacks()
{
    m_callback.remove();
}

void Upgrade::run()
{
    auto report = [&](int state, int64_t total, int64_t done) {
        m_state.store(state);
        m_callback.call([&](TRV_UpgradeCallBack cb, void *user) {
            cb(handle, state, int(std::min<int64_t>(total, INT_MAX)), int(std::min<int64_t>(done, INT_MAX)),
                user);
        });
    };
    const auto step = std::chrono::milliseconds(20);
    Clock::time_point next = Clock::now();

    // The firmware goes to the device (from the local file, or from the cloud).
    bool ok = true;
    std::FILE *in = m_path.empty() ? nullptr : std::fopen(m_path.c_str(), "rb");
    if (!m_path.empty() && !in)
        ok = false;
    const int64_t chunk = std::max<int64_t>(64 * 1024, m_size / 20);
    std::vector<char> buffer(size_t(std::min<int64_t>(chunk, 1 << 20)));
    int64_t sent = 0;
    while (ok && sent < m_size) {
        int64_t n = std::min(chunk, m_size - sent);
        if (in) {
            int64_t got = 0;
            while (got < n) {
                const size_t r = std::fread(
                    buffer.data(), 1, size_t(std::min<int64_t>(n - got, int64_t(buffer.size()))), in);
                if (r == 0)
                    break;
                got += int64_t(r);
            }
            if (got == 0) {
                ok = false;
                break;
            }
            n = got;
        }
        sent += n;
        report(TRV_UPGRADE_SENDING, m_size, sent);
        next += step;
        if (!sleepUntil(next)) {
            if (in)
                std::fclose(in);
            return;
        }
    }
    if (in)
        std::fclose(in);
    // The device writes it.
    for (int percent = 0; ok && percent <= 100; percent += 20) {
        report(TRV_UPGRADE_WRITING, 100, percent);
        next += step;
        if (!sleepUntil(next))
            return;
    }
    {
        std::lock_guard<std::mutex> lock(login->device->mutex);
        DeviceState &d = *login->device;
        if (ok && !m_version.empty()) {
            d.spec.softwareVersion = m_version;
            d.spec.upgradeVersion.clear();
        }
        d.upgrading = false;
        m_released = true;
    }
    report(ok ? TRV_UPGRADE_SUCCESS : TRV_UPGRADE_FAILED, m_size, ok ? m_size : sent);
}

} // namespace kx
