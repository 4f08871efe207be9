#pragma once

#include <QString>

// Writes a planar Y, U, V 4:2:0 picture as a JPEG file (quality 99, baseline).
// The U plane of ((w+1)/2) x ((h+1)/2) bytes follows the Y plane, the V
// plane follows the U plane. The file appears whole or not at all: an error
// of the compressor or of the disk leaves no partial file behind, and never
// ends the process (libjpeg's own error handler would call exit()).
bool writeYuvJpeg(const QString &fileName, int width, int height, const unsigned char *yuv);
