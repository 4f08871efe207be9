#include "PlayLibraryDouble.h"

#include <map>
#include <mutex>

namespace {

struct Script
{
    int result = 1;
    int successesLeft = -1; // -1: no limit
};

struct State
{
    std::mutex mutex;
    std::vector<std::string> calls;
    std::map<std::string, Script> scripts;
    PlayDouble::CatchPicture catchPicture;
    int64_t currentTime = 0;
    float playPos = 0;
    TRV_PLAY_DrawCallBack drawCallback = nullptr;
    void *drawUser = nullptr;
};

State &state()
{
    static State s;
    return s;
}

std::string join(std::initializer_list<std::string> parts)
{
    std::string out;
    for (const std::string &p : parts) {
        if (!out.empty())
            out += ',';
        out += p;
    }
    return out;
}

// Logs the call and gives its scripted result.
int call(const std::string &name, std::initializer_list<std::string> args)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back(name + '(' + join(args) + ')');
    Script &script = s.scripts[name];
    if (script.successesLeft == 0)
        return 0;
    if (script.successesLeft > 0) {
        --script.successesLeft;
        return 1;
    }
    return script.result;
}

std::string str(long long v)
{
    return std::to_string(v);
}

} // namespace

namespace PlayDouble {

void reset()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.scripts.clear();
    s.catchPicture = nullptr;
    s.currentTime = 0;
    s.playPos = 0;
    s.drawCallback = nullptr;
    s.drawUser = nullptr;
}

std::vector<std::string> calls()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

void clearCalls()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
}

void setResult(const std::string &name, int result)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.scripts[name] = Script { result, -1 };
}

void failAfter(const std::string &name, int successes)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.scripts[name] = Script { 0, successes };
}

void setCatchPicture(CatchPicture handler)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.catchPicture = std::move(handler);
}

void setCurrentTime(int64_t seconds)
{
    state().currentTime = seconds;
}

void setPlayPos(float position)
{
    state().playPos = position;
}

TRV_PLAY_DrawCallBack drawCallback()
{
    return state().drawCallback;
}

void *drawUser()
{
    return state().drawUser;
}

} // namespace PlayDouble

extern "C" {

int TRV_PLAY_OpenFile(int port, const char *fileName)
{
    return call("OpenFile", { str(port), fileName ? fileName : "null" });
}

int TRV_PLAY_CloseFile(int port)
{
    return call("CloseFile", { str(port) });
}

int TRV_PLAY_SetFileEndCallBack(int port, TRV_PLAY_FileEndCallBack, void *)
{
    return call("SetFileEndCallBack", { str(port) });
}

int TRV_PLAY_SetPlayPos(int port, float relativePos)
{
    return call("SetPlayPos", { str(port), std::to_string(relativePos) });
}

float TRV_PLAY_GetPlayPos(int port)
{
    call("GetPlayPos", { str(port) });
    return state().playPos;
}

int TRV_PLAY_OpenStream(int port, const unsigned char *, unsigned int headLength, unsigned int poolSize)
{
    return call("OpenStream", { str(port), str(headLength), str(poolSize) });
}

int TRV_PLAY_CloseStream(int port)
{
    return call("CloseStream", { str(port) });
}

int TRV_PLAY_InputData(int port, const unsigned char *, unsigned int length)
{
    return call("InputData", { str(port), str(length) });
}

int TRV_PLAY_SetStreamOpenMode(int port, unsigned int mode)
{
    return call("SetStreamOpenMode", { str(port), str(mode) });
}

int TRV_PLAY_ResetSourceBuffer(int port)
{
    return call("ResetSourceBuffer", { str(port) });
}

unsigned int TRV_PLAY_GetSourceBufferRemain(int port)
{
    return unsigned(call("GetSourceBufferRemain", { str(port) }));
}

unsigned int TRV_PLAY_GetBufferValue(int port, int type)
{
    return unsigned(call("GetBufferValue", { str(port), str(type) }));
}

int TRV_PLAY_Play(int port, TRV_PLAY_WND window)
{
    return call("Play", { str(port), str((long long)window) });
}

int TRV_PLAY_Stop(int port)
{
    return call("Stop", { str(port) });
}

int TRV_PLAY_Pause(int port, unsigned int pause)
{
    return call("Pause", { str(port), str(pause) });
}

int TRV_PLAY_Fast(int port)
{
    return call("Fast", { str(port) });
}

int TRV_PLAY_Slow(int port)
{
    return call("Slow", { str(port) });
}

int TRV_PLAY_StepForward(int port)
{
    return call("StepForward", { str(port) });
}

int TRV_PLAY_StepBackward(int port)
{
    return call("StepBackward", { str(port) });
}

int TRV_PLAY_SetDisplayBufferCount(int port, unsigned int frames)
{
    return call("SetDisplayBufferCount", { str(port), str(frames) });
}

int64_t TRV_PLAY_GetCurrentTimeStamp(int port)
{
    call("GetCurrentTimeStamp", { str(port) });
    return state().currentTime;
}

int TRV_PLAY_SetDisplayRegion(
    int port, unsigned int regionNumber, const TRV_PLAY_RECT *rect, TRV_PLAY_WND window, int enable)
{
    const std::string r = rect
        ? str(rect->left) + ' ' + str(rect->top) + ' ' + str(rect->right) + ' ' + str(rect->bottom)
        : "null";
    return call("SetDisplayRegion", { str(port), str(regionNumber), r, str((long long)window), str(enable) });
}

int TRV_PLAY_RegisterDrawCallBack(int port, TRV_PLAY_DrawCallBack callback, void *user)
{
    state().drawCallback = callback;
    state().drawUser = user;
    return call("RegisterDrawCallBack", { str(port) });
}

int TRV_PLAY_SetRenderMode(int port, int enable, int mode)
{
    return call("SetRenderMode", { str(port), str(enable), str(mode) });
}

int TRV_PLAY_SetOriginalDisplay(int port, unsigned int regionNumber, const int *enable)
{
    return call("SetOriginalDisplay", { str(port), str(regionNumber), enable ? str(*enable) : "null" });
}

int TRV_PLAY_GetPictureSize(int port, int *width, int *height)
{
    *width = 640;
    *height = 480;
    return call("GetPictureSize", { str(port) });
}

int TRV_PLAY_SetColor(
    int port, unsigned int regionNumber, int brightness, int contrast, int saturation, int hue)
{
    return call("SetColor",
        { str(port), str(regionNumber), str(brightness), str(contrast), str(saturation), str(hue) });
}

int TRV_PLAY_GetColor(
    int port, unsigned int regionNumber, int *brightness, int *contrast, int *saturation, int *hue)
{
    *brightness = 10;
    *contrast = 20;
    *saturation = 30;
    *hue = 40;
    return call("GetColor", { str(port), str(regionNumber) });
}

int TRV_PLAY_CatchPicture(
    int port, unsigned char *buffer, unsigned int size, int *width, int *height, int type)
{
    const int r = call("CatchPicture", { str(port), str(size), str(type) });
    PlayDouble::CatchPicture handler;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        handler = state().catchPicture;
    }
    return r && handler ? handler(buffer, size, width, height, type) : 0;
}

int TRV_PLAY_StartDataRecord(int port, const char *fileName, int type)
{
    return call("StartDataRecord", { str(port), fileName ? fileName : "null", str(type) });
}

int TRV_PLAY_StopDataRecord(int port)
{
    return call("StopDataRecord", { str(port) });
}

int TRV_PLAY_ConvertFile(
    const char *source, const char *target, int type, TRV_PLAY_ConvertProgressCallBack, void *)
{
    return call("ConvertFile", { source ? source : "null", target ? target : "null", str(type) });
}

int TRV_PLAY_PlaySound(int port)
{
    return call("PlaySound", { str(port) });
}

int TRV_PLAY_StopSound(void)
{
    return call("StopSound", {});
}

int TRV_PLAY_PlaySoundShare(int port)
{
    return call("PlaySoundShare", { str(port) });
}

int TRV_PLAY_StopSoundShare(int port)
{
    return call("StopSoundShare", { str(port) });
}

int TRV_PLAY_SetVolume(int port, unsigned short volume)
{
    return call("SetVolume", { str(port), str(volume) });
}

unsigned short TRV_PLAY_GetVolume(int port)
{
    return static_cast<unsigned short>(call("GetVolume", { str(port) }));
}

int TRV_PLAY_StartAudioCapture(
    TRV_PLAY_AudioCaptureCallBack, int bitsPerSample, int sampleRate, int blockLength, void *)
{
    return call("StartAudioCapture", { str(bitsPerSample), str(sampleRate), str(blockLength) });
}

int TRV_PLAY_StopAudioCapture(void)
{
    return call("StopAudioCapture", {});
}

int TRV_PLAY_GetLastError(int port)
{
    return call("GetLastError", { str(port) });
}

} // extern "C"
