#include "DecodeChannel.h"

#include "LightWeightLog.h"
#include "YuvJpegWriter.h"
#include "common/Protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

constexpr unsigned int kPoolSizeKind1 = 2048000;
constexpr unsigned int kPoolSizeOther = 4096000;
constexpr unsigned int kDisplayBufferFrames = 8;
constexpr unsigned int kBmpBufferSize = 36000054;
constexpr unsigned int kYuvBufferSize = 18000000;
constexpr size_t kBmpHeaderSize = 54;

bool isPlayingVariant(int state)
{
    return state >= CDecodeChannel::StateStepForward || (state >= 32 && state <= 35)
        || (state >= 16 && state <= 19);
}

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

time_t toTime(const PlayTimeRecord &r)
{
    struct tm t = {};
    t.tm_year = int(r.year) - 1900;
    t.tm_mon = int(r.month) - 1;
    t.tm_mday = r.day;
    t.tm_hour = r.hour;
    t.tm_min = r.minute;
    t.tm_sec = r.second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

void parseTime(const char *text, PlayTimeRecord *r)
{
    if (!text)
        return;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::sscanf(text, "%04d-%02d-%02d %02d:%02d:%02d", &year, &month, &day, &hour, &minute, &second);
    r->year = uint16_t(year);
    r->month = uint16_t(month);
    r->day = uint16_t(day);
    r->hour = uint16_t(hour);
    r->minute = uint16_t(minute);
    r->second = uint16_t(second);
}

// Writes `data` as the whole new content of `fileName`; a failed write
// leaves no partial file.
bool writeWholeFile(const QString &fileName, const char *data, qint64 size)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data, size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

CDecodeChannel::CDecodeChannel(int port)
    : m_nPort(port)
{
    playerLog("CDecodeChannel::CDecodeChannel", QStringLiteral("port %1").arg(port));
}

CDecodeChannel::~CDecodeChannel() = default;

// ---- stream and rendering ---------------------------------------------------

int CDecodeChannel::Open(int streamKind)
{
    if (m_bOpen)
        return 1;
    m_nStreamKind = streamKind;
    const unsigned int size = streamKind == 1 ? kPoolSizeKind1 : kPoolSizeOther;
    const unsigned char head = 0;
    const int res = TRV_PLAY_OpenStream(m_nPort, &head, 1, size);
    if (res)
        m_bOpen = true;
    playerLog("CDecodeChannel::Open", QStringLiteral("size=%1 res=%2").arg(size).arg(res));
    return res;
}

int CDecodeChannel::Close()
{
    if (!m_bOpen)
        return 1;
    const int res = TRV_PLAY_CloseStream(m_nPort);
    if (res)
        m_bOpen = false;
    m_nStreamKind = -1;
    playerLog("CDecodeChannel::Close", QStringLiteral("res=%2").arg(res));
    return res;
}

int CDecodeChannel::InputData(const char *data, int length)
{
    if (!data || length <= 0)
        return 0;
    return TRV_PLAY_InputData(m_nPort, reinterpret_cast<const unsigned char *>(data), unsigned(length));
}

int CDecodeChannel::StartPreview()
{
    if (m_nPlayState != StateStopped)
        return 1;
    int res = TRV_PLAY_SetDisplayBufferCount(m_nPort, kDisplayBufferFrames);
    if (res) {
        res = TRV_PLAY_Play(m_nPort, TRV_PLAY_WND(m_hWnd));
        if (res)
            m_nPlayState = StatePlaying;
    }
    playerLog("CDecodeChannel::StartPreview", QStringLiteral("Port=%1 Res=%2").arg(m_nPort).arg(res));
    return res;
}

int CDecodeChannel::StopPreview()
{
    return stopPlay("CDecodeChannel::StopPreview");
}

int CDecodeChannel::stopPlay(const char *function)
{
    if (m_nPlayState == StateStopped)
        return 0;
    SetDisplayRegion(nullptr, 0);
    const int res = TRV_PLAY_Stop(m_nPort);
    if (res)
        m_nPlayState = StateStopped;
    playerLog(function, QStringLiteral("Port=%1 Res=%2").arg(m_nPort).arg(res));
    return res;
}

int CDecodeChannel::StartPlayback(bool localFile)
{
    if (m_nPlayState != StateStopped)
        return 1;
    if (!localFile) {
        TRV_PLAY_SetStreamOpenMode(m_nPort, TRV_PLAY_STREAM_FILE);
        playerLog("CDecodeChannel::StartPlayback", QStringLiteral("TRV_PLAY_SetStreamOpenMode STREAME_FILE"));
    }
    const int res = TRV_PLAY_Play(m_nPort, TRV_PLAY_WND(m_hWnd));
    if (res)
        m_nPlayState = StatePlaying;
    playerLog("CDecodeChannel::StartPlayback", QStringLiteral("Port=%1 Res=%2").arg(m_nPort).arg(res));
    return res;
}

int CDecodeChannel::StopPlayback()
{
    return stopPlay("CDecodeChannel::StopPlayback");
}

int CDecodeChannel::BeginLocalPlay(const QString &fileName, FileEndCallback callback, void *user)
{
    int res = TRV_PLAY_OpenFile(m_nPort, QFile::encodeName(fileName).constData());
    playerLog("CDecodeChannel::BeginLocalPlay",
        QStringLiteral("TRV_PLAY_OpenFile Port =%1 Res=%2").arg(m_nPort).arg(res));
    if (!res)
        return 0;
    res = TRV_PLAY_SetFileEndCallBack(m_nPort, callback, user);
    playerLog("CDecodeChannel::BeginLocalPlay",
        QStringLiteral("TRV_PLAY_SetFileEndCallBack Port =%1 Res=%2").arg(m_nPort).arg(res));
    return res;
}

int CDecodeChannel::StopLocalPlay()
{
    const int res = TRV_PLAY_CloseFile(m_nPort);
    playerLog("CDecodeChannel::StopLocalPlay",
        QStringLiteral("TRV_PLAY_CloseFile Port =%1 Res=%2").arg(m_nPort).arg(res));
    return res;
}

int CDecodeChannel::PlayControl(int command)
{
    const WId window = m_hWnd;
    int res = 0;
    if (command == StateStepForward) {
        res = TRV_PLAY_StepForward(m_nPort);
    } else if (command == StateStepBackward) {
        res = TRV_PLAY_StepBackward(m_nPort);
    } else if (command == StatePlaying) {
        if (isPlayingVariant(m_nPlayState))
            res = TRV_PLAY_Play(m_nPort, TRV_PLAY_WND(window));
        else if (m_nPlayState == StatePaused)
            res = TRV_PLAY_Pause(m_nPort, 0);
        else
            return m_nPlayState;
    } else if (command >= StateFastFirst && m_nPlayState <= 35) {
        res = TRV_PLAY_Play(m_nPort, TRV_PLAY_WND(window));
        for (int i = 0; res && i < command - 31; ++i)
            res = TRV_PLAY_Fast(m_nPort);
    } else if (command >= StateFastFirst) {
        // A fast command from a step state matches no other row.
        return m_nPlayState;
    } else if (command >= 16 && command <= 19) {
        res = TRV_PLAY_Play(m_nPort, TRV_PLAY_WND(window));
        for (int i = 0; res && i < command - 15; ++i)
            res = TRV_PLAY_Slow(m_nPort);
    } else if (command == StatePaused) {
        if (isPlayingVariant(m_nPlayState)) {
            res = TRV_PLAY_Play(m_nPort, TRV_PLAY_WND(window));
            if (res)
                res = TRV_PLAY_Pause(m_nPort, 1);
        } else {
            res = TRV_PLAY_Pause(m_nPort, 1);
        }
    } else {
        return m_nPlayState;
    }
    if (res)
        m_nPlayState = command;
    return m_nPlayState;
}

int CDecodeChannel::SetPlayPos(float position)
{
    // The library's answer, so that a refused seek is seen as one.
    const int res = TRV_PLAY_SetPlayPos(m_nPort, position);
    if (res)
        TRV_PLAY_ResetSourceBuffer(m_nPort);
    return res;
}

bool CDecodeChannel::GetPlaybackFlag()
{
    return TRV_PLAY_ResetSourceBuffer(m_nPort) != 0;
}

int CDecodeChannel::OpenSound()
{
    const int res = TRV_PLAY_PlaySound(m_nPort);
    if (res)
        m_bSound = true;
    return res;
}

int CDecodeChannel::CloseSound()
{
    const int res = TRV_PLAY_StopSound();
    if (res)
        m_bSound = false;
    return res;
}

int CDecodeChannel::GetFrameBufferCount()
{
    return int(TRV_PLAY_GetBufferValue(m_nPort, TRV_PLAY_BUF_FRAMES));
}

int CDecodeChannel::GetStreamBufferCount()
{
    return int(TRV_PLAY_GetSourceBufferRemain(m_nPort));
}

int CDecodeChannel::GetPictureSize(int *width, int *height)
{
    int w = 0;
    int h = 0;
    const int res = TRV_PLAY_GetPictureSize(m_nPort, &w, &h);
    if (width)
        *width = w;
    if (height)
        *height = h;
    return res;
}

int CDecodeChannel::SetGdiMode(int port, int value)
{
    return TRV_PLAY_SetRenderMode(port, 1, value);
}

unsigned short CDecodeChannel::GetVolume()
{
    return TRV_PLAY_GetVolume(m_nPort);
}

int CDecodeChannel::SetVolume(int value)
{
    if (value < 0 || value > 0xFFFF)
        return 0;
    return TRV_PLAY_SetVolume(m_nPort, static_cast<unsigned short>(value));
}

// ---- picture adjustments ------------------------------------------------------

int CDecodeChannel::GetColor(int *brightness, int *contrast, int *saturation, int *hue)
{
    playerLog("CDecodeChannel::GetColor", QStringLiteral("m_nPort = %1").arg(m_nPort));
    int b = m_nBrightness, c = m_nContrast, s = m_nSaturation, h = m_nHue;
    const int res = TRV_PLAY_GetColor(m_nPort, 0, &b, &c, &s, &h);
    m_nBrightness = b;
    m_nContrast = c;
    m_nSaturation = s;
    m_nHue = h;
    if (brightness)
        *brightness = b;
    if (contrast)
        *contrast = c;
    if (saturation)
        *saturation = s;
    if (hue)
        *hue = h;
    return res;
}

int CDecodeChannel::SetColor(int component, int value)
{
    switch (component) {
    case ColorComponent::Brightness:
        m_nBrightness = value;
        break;
    case ColorComponent::Contrast:
        m_nContrast = value;
        break;
    case ColorComponent::Saturation:
        m_nSaturation = value;
        break;
    case ColorComponent::Hue:
        m_nHue = value;
        break;
    case ColorComponent::All:
        m_nBrightness = m_nContrast = m_nSaturation = m_nHue = value;
        break;
    default:
        break;
    }
    return TRV_PLAY_SetColor(m_nPort, 0, m_nBrightness, m_nContrast, m_nSaturation, m_nHue);
}

int CDecodeChannel::SetDisplayRegion(const TRV_PLAY_RECT *rect, int enable)
{
    if (m_nPlayState != StatePlaying)
        return 0;
    const int res = TRV_PLAY_SetDisplayRegion(m_nPort, 0, rect, 0, enable);
    if (rect) {
        playerLog("CDecodeChannel::SetDisplayRegion",
            QStringLiteral(
                "TRV_PLAY_SetDisplayRegion Port=%1 left=%2 right=%3 top=%4  bottom=%5 Enable=%6 Ret=%7")
                .arg(m_nPort)
                .arg(rect->left)
                .arg(rect->right)
                .arg(rect->top)
                .arg(rect->bottom)
                .arg(enable)
                .arg(res));
    } else {
        playerLog("CDecodeChannel::SetDisplayRegion",
            QStringLiteral("TRV_PLAY_SetDisplayRegion Port=%5 left=%1 top=%2 Enable=%3 Ret=%4")
                .arg(0)
                .arg(0)
                .arg(enable)
                .arg(res)
                .arg(m_nPort));
    }
    return res;
}

bool CDecodeChannel::SetDisplayRegionRect(int left, int top, int right, int bottom, bool enable)
{
    const TRV_PLAY_RECT rect { left, top, right, bottom };
    return TRV_PLAY_SetDisplayRegion(m_nPort, 0, enable ? &rect : nullptr, 0, enable ? 1 : 0) != 0;
}

int CDecodeChannel::PlayOriginal()
{
    playerLog("CDecodeChannel::PlayOriginal", QStringLiteral("m_nPort %1").arg(m_nPort));
    const int on = 1;
    const int res = TRV_PLAY_SetOriginalDisplay(m_nPort, 0, &on);
    if (res)
        m_nOriginal = 1;
    return res;
}

int CDecodeChannel::ResetOriginal()
{
    const int off = 0;
    const int res = TRV_PLAY_SetOriginalDisplay(m_nPort, 0, &off);
    if (res)
        m_nOriginal = 0;
    return res;
}

int CDecodeChannel::SetOriginalMode(int value)
{
    return TRV_PLAY_SetOriginalDisplay(m_nPort, 0, &value);
}

// ---- overlay drawing ------------------------------------------------------------

int CDecodeChannel::SetDrawCallback(DrawCallback callback, void *user)
{
    m_drawCallback = callback;
    m_drawUser = user;
    return TRV_PLAY_RegisterDrawCallBack(m_nPort, &CDecodeChannel::DrawTrampoline, this);
}

void CDecodeChannel::DrawTrampoline(int reserved, QPainter *painter, void *user)
{
    auto *self = static_cast<CDecodeChannel *>(user);
    if (!self || !painter || reserved != 0 || !self->m_drawCallback)
        return;
    self->m_drawCallback(0, painter, self->m_hWnd, self->m_drawUser);
}

// ---- snapshots, recording, conversion -------------------------------------------------

bool CDecodeChannel::CatchPicture(const QString &fileName, int type)
{
    const unsigned int size = type == 0 ? kBmpBufferSize : type == 1 ? kYuvBufferSize : 0;
    std::unique_ptr<unsigned char[]> buffer(size ? new (std::nothrow) unsigned char[size]() : nullptr);
    if (size && !buffer)
        return false;
    int width = 0;
    int height = 0;
    if (!TRV_PLAY_CatchPicture(m_nPort, buffer.get(), size, &width, &height, type))
        return false;

    const QString folder = QFileInfo(fileName).absolutePath();
    if (fileName.isEmpty() || !QDir().mkpath(folder))
        return false;

    if (type == 0) {
        // The buffer must hold a BMP file whose stated size is plausible.
        if (buffer[0] != 'B' || buffer[1] != 'M')
            return false;
        const uint32_t fileSize = le32(buffer.get() + 2);
        if (fileSize < kBmpHeaderSize || fileSize > size)
            return false;
        return writeWholeFile(fileName, reinterpret_cast<const char *>(buffer.get()), qint64(fileSize));
    }
    // A 4:2:0 picture must fit in what the buffer holds.
    if (width <= 0 || height <= 0)
        return false;
    const uint64_t chroma = ((uint64_t(width) + 1) / 2) * ((uint64_t(height) + 1) / 2);
    if (uint64_t(width) * uint64_t(height) + 2 * chroma > size)
        return false;
    return SaveYuvAsJpeg(fileName, width, height, buffer.get());
}

bool CDecodeChannel::SaveYuvAsJpeg(const QString &fileName, int width, int height, const unsigned char *yuv)
{
    if (!yuv)
        return false;
    return writeYuvJpeg(fileName, width, height, yuv);
}

int CDecodeChannel::StartRecord(const QString &fileName, int type)
{
    playerLog("CDecodeChannel::StartRecord", QStringLiteral("StartRecord port:%1").arg(m_nPort));
    int res = 0;
    if (m_nPlayState != StateStopped)
        res = TRV_PLAY_StartDataRecord(m_nPort, QFile::encodeName(fileName).constData(), type);
    m_bRecord = res != 0;
    return res;
}

int CDecodeChannel::StopRecord()
{
    const int res = TRV_PLAY_StopDataRecord(m_nPort);
    if (res)
        m_bRecord = false;
    return res;
}

bool CDecodeChannel::ChangeFileFormat(
    const QString &source, const QString &target, int type, ConvertCallback callback, void *user)
{
    if (type != TRV_PLAY_CONVERT_AVI)
        return false;
    playerLog("CDecodeChannel::ChangeFileFormat",
        QStringLiteral("srcFileName:%1<--->dstFileName:%2").arg(source, target));
    const int res = TRV_PLAY_ConvertFile(QFile::encodeName(source).constData(),
        QFile::encodeName(target).constData(), TRV_PLAY_CONVERT_AVI, callback, user);
    return res > 0;
}

// ---- play time ------------------------------------------------------------------

int CDecodeChannel::SetTimeText(const char *start, const char *end)
{
    parseTime(start, &m_startTime);
    parseTime(end, &m_endTime);
    return 1;
}

float CDecodeChannel::GetPlayPos()
{
    return TRV_PLAY_GetPlayPos(m_nPort);
}

bool CDecodeChannel::CurrentLocalTime(struct tm *out)
{
    const int64_t seconds = TRV_PLAY_GetCurrentTimeStamp(m_nPort);
    if (seconds <= 0)
        return false;
    const time_t t = time_t(seconds);
    return localtime_r(&t, out) != nullptr;
}

float CDecodeChannel::GetPlayTime(int mode)
{
    if (m_nPlayState == StateStopped)
        return 0;
    struct tm current = {};
    if (!CurrentLocalTime(&current))
        return 0;
    const int secondsOfDay = current.tm_hour * 3600 + current.tm_min * 60 + current.tm_sec;
    const time_t now = std::mktime(&current);
    const time_t start = toTime(m_startTime);
    if (now < start)
        return 0;
    if (mode == 2)
        return float(secondsOfDay);
    const double span = std::difftime(toTime(m_endTime), start);
    if (span <= 0)
        return 0; // no span to measure against
    return float(std::difftime(now, start) / span);
}

int CDecodeChannel::PositionToSeconds(int permille)
{
    if (m_nPlayState == StateStopped)
        return 0;
    struct tm current = {};
    if (!CurrentLocalTime(&current))
        return 0;
    const time_t now = std::mktime(&current);
    const time_t start = toTime(m_startTime);
    const double span = std::difftime(toTime(m_endTime), start);
    if (now < start || span < 0)
        return 0;
    return int(permille / 1000.0 * span);
}

int CDecodeChannel::GetCurrentTime(PlayTimeRecord *out)
{
    struct tm current = {};
    if (!out || !CurrentLocalTime(&current))
        return 0;
    out->year = uint16_t(current.tm_year + 1900);
    out->month = uint16_t(current.tm_mon + 1);
    out->day = uint16_t(current.tm_mday);
    out->hour = uint16_t(current.tm_hour);
    out->minute = uint16_t(current.tm_min);
    out->second = uint16_t(current.tm_sec);
    return 1;
}
