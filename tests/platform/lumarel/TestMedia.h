#pragma once

// Test pictures and streams: frames of four coloured quadrants encoded with
// libavcodec and wrapped in the device stream format, G.711 audio blocks, and
// the outside tools (ffprobe, identify) that check files.

#include "StreamFrame.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace TestMedia {

// Colours of the quadrants: top left, top right, bottom left, bottom right.
QColor quadrantColour(int quadrant);

struct VideoOptions
{
    StreamCodec codec = kCodecH264;
    int width = 64;
    int height = 48;
    int frames = 10;
    int fps = 25;
    int gop = 5; // a key frame every `gop` pictures
    int64_t startMs = 1683000000000; // 2023-05-02 04:00:00 UTC
    // A detailed picture that moves from one frame to the next (waves and
    // a checkerboard, as much edge and texture as a camera's) in place of
    // the four quadrants.
    bool textured = false;
};

// 40 textured 352x288 pictures, a key frame every 25: a camera's extra
// stream as a grid shows it.
VideoOptions cameraLike();

// One block of the device stream format per picture; empty when the encoder
// is missing.
std::vector<QByteArray> videoBlocks(const VideoOptions &options);
// An audio frame of `samples` G.711 A-law bytes of a tone (amplitude 6000);
// `firstSample` continues the tone of the blocks before.
QByteArray audioBlock(
    int samples, int sampleRate, int64_t timestampMs, double frequency = 440, int64_t firstSample = 0);
// A talk voice frame (8-byte head).
QByteArray voiceFrame(int samples, int sampleRate);
QByteArray join(const std::vector<QByteArray> &blocks);

// Runs a program; its standard output, or a null QByteArray when it failed.
QByteArray run(const QString &program, const QStringList &arguments);
// ffprobe's "key=value" lines for the first video stream (codec_name,
// width, height, nb_read_frames).
QString probeVideo(const QString &file);
// ImageMagick's "FORMAT WIDTHxHEIGHT" of an image file.
QString identify(const QString &file);

// The last picture of `blocks` (H.264) decoded in full by ffmpeg and scaled
// to `size` with its area filter, as packed RGB24; null when ffmpeg failed.
QByteArray scaledReference(const std::vector<QByteArray> &blocks, QSize size);
// Peak signal-to-noise ratio of an image against packed RGB24 pixels of
// the same size, in dB.
double psnr(const QImage &shown, const QByteArray &reference);

// True when the two colours differ by at most `tolerance` in each channel.
bool near(const QColor &a, const QColor &b, int tolerance);

} // namespace TestMedia
