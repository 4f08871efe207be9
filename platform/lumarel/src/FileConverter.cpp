#include "FileConverter.h"

#include "AviMuxer.h"
#include "BlockFileReader.h"

#include <atomic>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Job
{
    std::thread thread;
    std::atomic<bool> done { false };
};

struct Jobs
{
    std::mutex mutex;
    std::list<std::unique_ptr<Job>> jobs;
    std::atomic<int> running { 0 };

    // Joins finished conversions; at unload, all of them.
    void reap(bool all)
    {
        std::list<std::unique_ptr<Job>> finished;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (auto it = jobs.begin(); it != jobs.end();) {
                if (all || (*it)->done) {
                    finished.push_back(std::move(*it));
                    it = jobs.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto &job : finished)
            if (job->thread.joinable())
                job->thread.join();
    }

    ~Jobs() { reap(true); }
};

Jobs &jobs()
{
    static Jobs j;
    return j;
}

constexpr int kBlocksPerReport = 64;

void convert(std::unique_ptr<BlockFileReader> reader, std::unique_ptr<AviMuxer> muxer,
    const std::string &target, TRV_PLAY_ConvertProgressCallBack callback, void *user, Job *job)
{
    const int64_t total = reader->size();
    StreamBlock block;
    // First pass: an audio stream must be declared before the header.
    while (reader->next(&block, nullptr)) {
        MediaPacket p;
        if (packetFromBlock(block, &p) && p.kind == MediaPacket::Audio) {
            muxer->setAudio(p.rate, p.codecId);
            break;
        }
    }
    bool ok = !reader->failed() && reader->seek(0);
    int count = 0;
    while (ok && reader->next(&block, nullptr)) {
        MediaPacket p;
        if (packetFromBlock(block, &p) && !muxer->write(p))
            ok = false;
        if (callback && ++count % kBlocksPerReport == 0 && reader->position() < total)
            callback(reader->position(), total, user);
    }
    if (reader->failed())
        ok = false;
    reader->close();
    // finish() removes a target without pictures; a source that could not
    // be read to its end leaves no half file either.
    if (muxer->finish() && !ok)
        std::remove(target.c_str());
    if (callback)
        callback(total, total, user);
    jobs().running--;
    job->done = true;
}

} // namespace

namespace FileConverter {

int start(
    const char *source, const char *target, int type, TRV_PLAY_ConvertProgressCallBack callback, void *user)
{
    if (type != TRV_PLAY_CONVERT_AVI || !source || !*source || !target || !*target)
        return TRV_PLAY_ERR_PARA;
    auto reader = std::make_unique<BlockFileReader>();
    if (!reader->open(source))
        return TRV_PLAY_ERR_OPEN_FILE;
    auto muxer = std::make_unique<AviMuxer>();
    if (!muxer->open(target)) {
        muxer.reset();
        return TRV_PLAY_ERR_CREATE_FILE;
    }
    Jobs &j = jobs();
    j.reap(false);
    auto job = std::make_unique<Job>();
    Job *raw = job.get();
    j.running++;
    {
        std::lock_guard<std::mutex> lock(j.mutex);
        job->thread = std::thread(
            convert, std::move(reader), std::move(muxer), std::string(target), callback, user, raw);
        j.jobs.push_back(std::move(job));
    }
    return TRV_PLAY_NOERROR;
}

int running()
{
    return jobs().running;
}

} // namespace FileConverter
