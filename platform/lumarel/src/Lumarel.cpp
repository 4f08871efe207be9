// The C interface: argument checks, the port table, last errors and the log
// of calls; the work is done by PlayPort and the process-wide parts.

#include "lumarel/lumarel.h"
#include "AudioCapture.h"
#include "DirectDraw.h"
#include "FileConverter.h"
#include "PlayPort.h"
#include "Registry.h"
#include "SoundOutput.h"
#include "lumarel/LumarelControl.h"

#include <cmath>

namespace {

// Result of a port operation: 1 on success, 0 with the error recorded.
int result(int port, int error)
{
    Registry::setError(port, error);
    return error == TRV_PLAY_NOERROR ? 1 : 0;
}

template<typename F> int withPort(const char *name, int port, F &&operation)
{
    Registry::logCall(name, port);
    if (!Registry::validPort(port))
        return result(0, TRV_PLAY_ERR_PARA);
    std::shared_ptr<PlayPort> p = Registry::port(port);
    if (!p)
        return result(port, TRV_PLAY_ERR_PORT);
    return result(port, operation(*p));
}

int openPort(int port, const std::shared_ptr<PlayPort> &p)
{
    if (!Registry::install(port, p)) {
        p->shutdown();
        return result(port, TRV_PLAY_ERR_ORDER);
    }
    return result(port, TRV_PLAY_NOERROR);
}

int closePort(const char *name, int port, bool file)
{
    Registry::logCall(name, port);
    if (!Registry::validPort(port))
        return result(0, TRV_PLAY_ERR_PARA);
    std::shared_ptr<PlayPort> p = Registry::port(port);
    if (!p)
        return result(port, TRV_PLAY_ERR_PORT);
    if (p->isFilePort() != file)
        return result(port, TRV_PLAY_ERR_ORDER);
    if (Registry::remove(port) != p)
        return result(port, TRV_PLAY_ERR_PORT); // closed by another thread meanwhile
    p->shutdown();
    return result(port, TRV_PLAY_NOERROR);
}

} // namespace

extern "C" {

int TRV_PLAY_OpenFile(int port, const char *fileName)
{
    Registry::logCall("TRV_PLAY_OpenFile", port);
    if (!Registry::validPort(port) || !fileName || !*fileName)
        return result(Registry::validPort(port) ? port : 0, TRV_PLAY_ERR_PARA);
    if (Registry::port(port))
        return result(port, TRV_PLAY_ERR_ORDER);
    auto p = std::make_shared<PlayPort>(port);
    const int error = p->openFile(fileName);
    if (error != TRV_PLAY_NOERROR)
        return result(port, error);
    return openPort(port, p);
}

int TRV_PLAY_CloseFile(int port)
{
    return closePort("TRV_PLAY_CloseFile", port, true);
}

int TRV_PLAY_SetFileEndCallBack(int port, TRV_PLAY_FileEndCallBack callback, void *user)
{
    return withPort("TRV_PLAY_SetFileEndCallBack", port,
        [&](PlayPort &p) { return p.setFileEndCallback(callback, user); });
}

int TRV_PLAY_SetPlayPos(int port, float relativePos)
{
    return withPort("TRV_PLAY_SetPlayPos", port, [&](PlayPort &p) { return p.setPlayPos(relativePos); });
}

float TRV_PLAY_GetPlayPos(int port)
{
    float position = 0.0f;
    withPort("TRV_PLAY_GetPlayPos", port, [&](PlayPort &p) { return p.playPos(&position); });
    return position;
}

int TRV_PLAY_OpenStream(int port, const unsigned char *, unsigned int, unsigned int poolSize)
{
    Registry::logCall("TRV_PLAY_OpenStream", port);
    if (!Registry::validPort(port))
        return result(0, TRV_PLAY_ERR_PARA);
    if (Registry::port(port))
        return result(port, TRV_PLAY_ERR_ORDER);
    auto p = std::make_shared<PlayPort>(port);
    const int error = p->openStream(poolSize);
    if (error != TRV_PLAY_NOERROR)
        return result(port, error);
    return openPort(port, p);
}

int TRV_PLAY_CloseStream(int port)
{
    return closePort("TRV_PLAY_CloseStream", port, false);
}

int TRV_PLAY_InputData(int port, const unsigned char *data, unsigned int length)
{
    // Not logged: it runs once per block.
    if (!Registry::validPort(port))
        return result(0, TRV_PLAY_ERR_PARA);
    std::shared_ptr<PlayPort> p = Registry::port(port);
    if (!p)
        return result(port, TRV_PLAY_ERR_PORT);
    return result(port, p->input(data, length));
}

int TRV_PLAY_SetStreamOpenMode(int port, unsigned int mode)
{
    return withPort("TRV_PLAY_SetStreamOpenMode", port, [&](PlayPort &p) { return p.setStreamMode(mode); });
}

int TRV_PLAY_ResetSourceBuffer(int port)
{
    return withPort("TRV_PLAY_ResetSourceBuffer", port, [](PlayPort &p) { return p.resetSourceBuffer(); });
}

unsigned int TRV_PLAY_GetSourceBufferRemain(int port)
{
    unsigned int value = 0;
    withPort("TRV_PLAY_GetSourceBufferRemain", port,
        [&](PlayPort &p) { return p.bufferValue(TRV_PLAY_BUF_SOURCE_BYTES, &value); });
    return value;
}

unsigned int TRV_PLAY_GetBufferValue(int port, int type)
{
    unsigned int value = 0;
    withPort("TRV_PLAY_GetBufferValue", port, [&](PlayPort &p) { return p.bufferValue(type, &value); });
    return value;
}

int TRV_PLAY_Play(int port, TRV_PLAY_WND window)
{
    return withPort("TRV_PLAY_Play", port, [&](PlayPort &p) { return p.play(window); });
}

int TRV_PLAY_Stop(int port)
{
    return withPort("TRV_PLAY_Stop", port, [](PlayPort &p) { return p.stop(); });
}

int TRV_PLAY_Pause(int port, unsigned int pause)
{
    return withPort("TRV_PLAY_Pause", port, [&](PlayPort &p) { return p.pause(pause != 0); });
}

int TRV_PLAY_Fast(int port)
{
    return withPort("TRV_PLAY_Fast", port, [](PlayPort &p) { return p.fast(); });
}

int TRV_PLAY_Slow(int port)
{
    return withPort("TRV_PLAY_Slow", port, [](PlayPort &p) { return p.slow(); });
}

int TRV_PLAY_StepForward(int port)
{
    return withPort("TRV_PLAY_StepForward", port, [](PlayPort &p) { return p.stepForward(); });
}

int TRV_PLAY_StepBackward(int port)
{
    return withPort("TRV_PLAY_StepBackward", port, [](PlayPort &p) { return p.stepBackward(); });
}

int TRV_PLAY_SetDisplayBufferCount(int port, unsigned int frames)
{
    return withPort(
        "TRV_PLAY_SetDisplayBufferCount", port, [&](PlayPort &p) { return p.setDisplayBufferCount(frames); });
}

int64_t TRV_PLAY_GetCurrentTimeStamp(int port)
{
    int64_t seconds = 0;
    withPort("TRV_PLAY_GetCurrentTimeStamp", port, [&](PlayPort &p) {
        seconds = p.currentTimeStamp();
        return seconds > 0 ? TRV_PLAY_NOERROR : TRV_PLAY_ERR_NO_PICTURE;
    });
    return seconds;
}

int TRV_PLAY_SetDisplayRegion(
    int port, unsigned int regionNumber, const TRV_PLAY_RECT *rect, TRV_PLAY_WND, int enable)
{
    return withPort("TRV_PLAY_SetDisplayRegion", port, [&](PlayPort &p) {
        if (regionNumber != 0)
            return int(TRV_PLAY_ERR_PARA);
        return p.setDisplayRegion(rect, enable != 0);
    });
}

int TRV_PLAY_RegisterDrawCallBack(int port, TRV_PLAY_DrawCallBack callback, void *user)
{
    return withPort("TRV_PLAY_RegisterDrawCallBack", port,
        [&](PlayPort &p) { return p.registerDrawCallback(callback, user); });
}

int TRV_PLAY_SetRenderMode(int port, int enable, int mode)
{
    return withPort(
        "TRV_PLAY_SetRenderMode", port, [&](PlayPort &p) { return p.setRenderMode(enable, mode); });
}

int TRV_PLAY_SetOriginalDisplay(int port, unsigned int regionNumber, const int *enable)
{
    return withPort("TRV_PLAY_SetOriginalDisplay", port, [&](PlayPort &p) {
        if (regionNumber != 0 || !enable)
            return int(TRV_PLAY_ERR_PARA);
        return p.setOriginal(*enable != 0);
    });
}

int TRV_PLAY_GetPictureSize(int port, int *width, int *height)
{
    return withPort("TRV_PLAY_GetPictureSize", port, [&](PlayPort &p) {
        if (!width || !height)
            return int(TRV_PLAY_ERR_PARA);
        return p.pictureSize(width, height);
    });
}

int TRV_PLAY_SetColor(
    int port, unsigned int regionNumber, int brightness, int contrast, int saturation, int hue)
{
    return withPort("TRV_PLAY_SetColor", port, [&](PlayPort &p) {
        if (regionNumber != 0)
            return int(TRV_PLAY_ERR_PARA);
        return p.setColour(brightness, contrast, saturation, hue);
    });
}

int TRV_PLAY_GetColor(
    int port, unsigned int regionNumber, int *brightness, int *contrast, int *saturation, int *hue)
{
    return withPort("TRV_PLAY_GetColor", port, [&](PlayPort &p) {
        if (regionNumber != 0 || !brightness || !contrast || !saturation || !hue)
            return int(TRV_PLAY_ERR_PARA);
        p.colour(brightness, contrast, saturation, hue);
        return int(TRV_PLAY_NOERROR);
    });
}

int TRV_PLAY_CatchPicture(
    int port, unsigned char *buffer, unsigned int size, int *width, int *height, int type)
{
    return withPort("TRV_PLAY_CatchPicture", port,
        [&](PlayPort &p) { return p.catchPicture(buffer, size, width, height, type); });
}

int TRV_PLAY_StartDataRecord(int port, const char *fileName, int type)
{
    return withPort("TRV_PLAY_StartDataRecord", port,
        [&](PlayPort &p) { return p.startRecord(fileName ? fileName : "", type); });
}

int TRV_PLAY_StopDataRecord(int port)
{
    return withPort("TRV_PLAY_StopDataRecord", port, [](PlayPort &p) { return p.stopRecord(); });
}

int TRV_PLAY_ConvertFile(
    const char *source, const char *target, int type, TRV_PLAY_ConvertProgressCallBack callback, void *user)
{
    Registry::logCall("TRV_PLAY_ConvertFile");
    return result(0, FileConverter::start(source, target, type, callback, user));
}

int TRV_PLAY_PlaySound(int port)
{
    return withPort("TRV_PLAY_PlaySound", port, [&](PlayPort &) {
        SoundOutput::setOwner(port);
        return int(TRV_PLAY_NOERROR);
    });
}

int TRV_PLAY_StopSound(void)
{
    Registry::logCall("TRV_PLAY_StopSound");
    SoundOutput::setOwner(-1);
    return result(0, TRV_PLAY_NOERROR);
}

int TRV_PLAY_PlaySoundShare(int port)
{
    return withPort("TRV_PLAY_PlaySoundShare", port, [&](PlayPort &) {
        SoundOutput::addShare(port);
        return int(TRV_PLAY_NOERROR);
    });
}

int TRV_PLAY_StopSoundShare(int port)
{
    Registry::logCall("TRV_PLAY_StopSoundShare", port);
    if (!Registry::validPort(port))
        return result(0, TRV_PLAY_ERR_PARA);
    return result(port, SoundOutput::removeShare(port) ? TRV_PLAY_NOERROR : TRV_PLAY_ERR_ORDER);
}

int TRV_PLAY_SetVolume(int port, unsigned short volume)
{
    return withPort("TRV_PLAY_SetVolume", port, [&](PlayPort &p) {
        p.setVolume(volume);
        return int(TRV_PLAY_NOERROR);
    });
}

unsigned short TRV_PLAY_GetVolume(int port)
{
    unsigned short volume = 0;
    withPort("TRV_PLAY_GetVolume", port, [&](PlayPort &p) {
        volume = p.volume();
        return int(TRV_PLAY_NOERROR);
    });
    return volume;
}

int TRV_PLAY_StartAudioCapture(
    TRV_PLAY_AudioCaptureCallBack callback, int bitsPerSample, int sampleRate, int blockLength, void *user)
{
    Registry::logCall("TRV_PLAY_StartAudioCapture");
    return result(0, AudioCapture::start(callback, bitsPerSample, sampleRate, blockLength, user));
}

int TRV_PLAY_StopAudioCapture(void)
{
    Registry::logCall("TRV_PLAY_StopAudioCapture");
    return result(0, AudioCapture::stop() ? TRV_PLAY_NOERROR : TRV_PLAY_ERR_ORDER);
}

int TRV_PLAY_GetLastError(int port)
{
    return Registry::lastError(port);
}

} // extern "C"

namespace LumarelControl {

bool portStats(int port, PortStats *stats)
{
    if (!Registry::validPort(port) || !stats)
        return false;
    *stats = PortStats();
    if (std::shared_ptr<PlayPort> p = Registry::port(port))
        p->stats(stats);
    return true;
}

int soundOwner()
{
    return SoundOutput::owner();
}

std::vector<int> soundSharePorts()
{
    return SoundOutput::shares();
}

int64_t soundOutputSamples()
{
    return SoundOutput::totalSamples();
}

bool audioCaptureRunning()
{
    return AudioCapture::running();
}

int64_t audioCaptureBlocks()
{
    return AudioCapture::blocksDelivered();
}

std::vector<std::string> calls()
{
    return Registry::calls();
}

void clearCalls()
{
    Registry::clearCalls();
}

int runningConversions()
{
    return FileConverter::running();
}

void setSmallWindowBursts(bool on)
{
    PlayPort::setBurstsAllowed(on);
}

void setStraightDrawing(bool on)
{
    DirectDraw::setAllowed(on);
}

void setPooledDecoding(bool on)
{
    PlayPort::setPooled(on);
}

} // namespace LumarelControl
