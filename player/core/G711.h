#pragma once

// G.711 encoders: 16-bit linear PCM (little-endian) to A-law or mu-law
// codes, one byte per sample, as transmitted (A-law with its even bits
// inverted). The block encoders return 1 and write length / 2 codes (an odd
// last byte is ignored); 0 for a null buffer or a negative length. They keep
// no state and may run on any thread at the same time.

int G711EncodeALaw(const short *pcm, unsigned char *out, int lengthBytes, int *codeCount);
int G711EncodeULaw(const short *pcm, unsigned char *out, int lengthBytes, int *codeCount);

unsigned char G711ALawFromSample(short sample);
unsigned char G711ULawFromSample(short sample);
