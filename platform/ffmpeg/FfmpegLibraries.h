#pragma once

// The device-library and play-library stand-ins do not link FFmpeg: they link
// this, which defines the FFmpeg functions they call as forwarders that open
// FFmpeg's libraries on the first call. FFmpeg and the codec libraries behind
// it are large; loading them with every program that links the stand-ins
// costs each player start a large share of its time, while a player answers
// its first requests without encoding or decoding anything. An FFmpeg function
// that the stand-ins start to use needs its forwarder in FfmpegLibraries.cpp
// (their link fails without).
namespace FfmpegLibraries {

enum Library { Util, Codec, Format, Scale, kCount };

// The address of `name` in `library`; aborts when FFmpeg is missing.
void *symbol(Library library, const char *name);

} // namespace FfmpegLibraries
